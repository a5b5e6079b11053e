// flightgear-double: FlightGear's generic protocol output, for tests. It reads a protocol
// file (korva.xml) the way FlightGear uses one for output: the separators and, in order,
// each chunk's property and printf format; then it sends one line per sample to HOST:PORT
// over UDP, as fgfs --generic=socket,out,HZ,HOST,PORT,udp,PROTOCOL does. Commands on
// standard input:
//   set PROPERTY VALUE   a property's value (unset ones read 0; "nan" works)
//   raw TEXT             sends TEXT and a newline once, as one datagram
//   silent | talk        stop and resume sending (a paused or closed FlightGear)
//   stats                "lines N"
//   quit
#include "DoubleConsole.h"
#include "UdpSocket.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

namespace {

struct Chunk {
    std::string node;
    std::string format;
};

struct Protocol {
    std::string lineSeparator;
    std::string varSeparator;
    std::vector<Chunk> chunks;
};

// The text between <tag> and </tag> in block, from position at; empty when there is none.
std::string Element(const std::string& block, const std::string& tag) {
    std::size_t open = block.find("<" + tag + ">");
    if (open == std::string::npos) return "";
    open += tag.size() + 2;
    std::size_t close = block.find("</" + tag + ">", open);
    return close == std::string::npos ? "" : block.substr(open, close - open);
}

// FlightGear's separator keywords; anything else stands for itself.
std::string Separator(const std::string& text) {
    static const std::map<std::string, std::string> keywords = {
        {"newline", "\n"}, {"tab", "\t"}, {"formfeed", "\f"}, {"carriagereturn", "\r"}, {"verticaltab", "\v"}};
    auto found = keywords.find(text);
    return found == keywords.end() ? text : found->second;
}

// A printf format with one floating-point conversion and nothing else to expand: text,
// "%", flags, width, precision, one of f F e E g G, text.
bool IsOneNumberFormat(const std::string& format) {
    std::size_t percent = format.find('%');
    if (percent == std::string::npos) return false;
    std::size_t at = format.find_first_not_of("-+ 0#", percent + 1);
    if (at == std::string::npos) return false;
    at = format.find_first_not_of("0123456789", at);
    if (at != std::string::npos && format[at] == '.') at = format.find_first_not_of("0123456789", at + 1);
    if (at == std::string::npos || std::string("fFeEgG").find(format[at]) == std::string::npos) return false;
    return format.find('%', at) == std::string::npos;
}

bool ReadProtocol(const std::string& path, Protocol& protocol, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Comments may mention tags; they are no part of the protocol.
    for (std::size_t open; (open = text.find("<!--")) != std::string::npos;) {
        std::size_t close = text.find("-->", open);
        text.erase(open, close == std::string::npos ? std::string::npos : close + 3 - open);
    }
    std::string output = Element(text, "output");
    if (output.empty()) {
        error = "no <output> in " + path;
        return false;
    }
    protocol.lineSeparator = Separator(Element(output, "line_separator"));
    protocol.varSeparator = Separator(Element(output, "var_separator"));
    for (std::size_t at = 0; (at = output.find("<chunk>", at)) != std::string::npos;) {
        std::size_t end = output.find("</chunk>", at);
        if (end == std::string::npos) break;
        std::string block = output.substr(at, end - at);
        Chunk chunk{Element(block, "node"), Element(block, "format")};
        if (chunk.format.empty()) chunk.format = "%f";
        if (chunk.node.empty() || !IsOneNumberFormat(chunk.format)) {
            error = "chunk without a node or with a format other than one number: " + block;
            return false;
        }
        protocol.chunks.push_back(chunk);
        at = end;
    }
    if (protocol.chunks.empty()) {
        error = "no chunks in " + path;
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string protocolPath, host = "127.0.0.1";
    int port = 5510;
    double hz = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--protocol") protocolPath = argv[i + 1];
        else if (option == "--host") host = argv[i + 1];
        else if (option == "--port") port = std::atoi(argv[i + 1]);
        else if (option == "--hz") hz = std::atof(argv[i + 1]);
    }
    if (protocolPath.empty() || argc % 2 == 0 || port <= 0 || port > 65535 || !(hz > 0)) {
        std::fprintf(stderr, "usage: flightgear-double --protocol FILE [--host HOST] [--port N] [--hz N]\n");
        return 2;
    }
    Protocol protocol;
    std::string error;
    UdpAddress to;
    to.port = static_cast<std::uint16_t>(port);
    UdpSocket socket;
    if (!ReadProtocol(protocolPath, protocol, error) || !ResolveIPv4(host, to.ipv4, error) ||
        !socket.Open("", 0, error)) {
        std::fprintf(stderr, "flightgear-double: %s\n", error.c_str());
        return 1;
    }
    DoubleConsole console;
    std::string nodes;
    for (const Chunk& chunk : protocol.chunks) nodes += " " + chunk.node;
    DoubleConsole::Say("sending to " + FormatAddress(to) + ":" + nodes);

    std::map<std::string, double> values;
    bool talking = true;
    unsigned long long lines = 0;
    auto period = std::chrono::microseconds(static_cast<long long>(1e6 / hz));
    auto next = std::chrono::steady_clock::now();
    for (;;) {
        std::vector<std::string> words;
        while (console.Next(words)) {
            if (words[0] == "set" && words.size() == 3) {
                values[words[1]] = std::strtod(words[2].c_str(), nullptr);
                DoubleConsole::Say("ok");
            } else if (words[0] == "raw" && words.size() >= 2) {
                std::string text = words[1];
                for (std::size_t i = 2; i < words.size(); ++i) text += " " + words[i];
                text += protocol.lineSeparator;
                socket.SendTo(to, text.data(), text.size());
                DoubleConsole::Say("ok");
            } else if (words[0] == "silent" || words[0] == "talk") {
                talking = words[0] == "talk";
                DoubleConsole::Say("ok");
            } else if (words[0] == "stats") {
                DoubleConsole::Say("lines " + std::to_string(lines));
            } else if (words[0] == "quit") {
                DoubleConsole::Say("bye");
                return 0;
            } else {
                DoubleConsole::Say("error: set PROPERTY VALUE | raw TEXT | silent | talk | stats | quit");
            }
        }
        if (console.Ended()) return 0;
        std::this_thread::sleep_until(next);
        next += period;
        if (!talking) continue;
        std::string line;
        for (std::size_t i = 0; i < protocol.chunks.size(); ++i) {
            const Chunk& chunk = protocol.chunks[i];
            char field[64];
            double value = values.count(chunk.node) ? values[chunk.node] : 0.0;
            std::snprintf(field, sizeof field, chunk.format.c_str(), value);
            if (i > 0) line += protocol.varSeparator;
            line += field;
        }
        line += protocol.lineSeparator;
        if (socket.SendTo(to, line.data(), line.size())) ++lines;
    }
}
