// simstandin: a stand-in for the flight simulator, the other end of the instrument's links.
// It serves the FSUIPC link's window class on the local transport and, with --serve, the
// companion data server; values are set through control commands on standard input or in
// a script file, one reply line per command. Run "simstandin --help" for the commands.
#include "DemoFlight.h"
#include "Latency.h"
#include "OffsetMemory.h"
#include "SimulatorLink.h"

#include "DataServer.h"
#include "StandardInput.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr char Usage[] =
    "usage: simstandin [--class FS98MAIN|UIPCMAIN | --no-link] [--script FILE] [--serve PORT [--bind ADDR]] [--stay]\n"
    "                  [--demo [--speed FACTOR]]\n"
    "  Serves the simulator's window class (default FS98MAIN) to the instrument's FSUIPC link.\n"
    "  --no-link      serves no window class (only the data server, with --serve)\n"
    "  --script FILE  runs the commands in FILE once the link is served\n"
    "  --serve PORT   also starts the data server on PORT (0: any free port), at ADDR (127.0.0.1)\n"
    "  --stay         keeps serving when standard input ends, until SIGINT or SIGTERM\n"
    "  --demo         flies the demo circuit (two VORs, two NDBs) and keeps the values moving;\n"
    "                 implies --stay\n"
    "  --speed FACTOR runs the demo flight FACTOR times faster than real time (default 1)\n"
    "commands (one reply line each; numbers decimal or 0x hex):\n"
    "  set OFFSET SIZE VALUE   store VALUE (may be negative) in SIZE = 1, 2, 4 or 8 bytes\n"
    "  get OFFSET SIZE         print the unsigned value stored there\n"
    "  misbehave MODE          none | silent | answer N | garbage | scramble | badkind | highkind\n"
    "  stats                   exchanges N reads N writes N (link exchanges carried out)\n"
    "  clientversion           the version the last client announced (0x330A; 0 if none)\n"
    "  sleep MS                pause (for scripts)\n"
    "  latency COUNT [INTERVAL_MS [FILE]]\n"
    "                          turns the heading COUNT times (INTERVAL_MS apart, default 50) and\n"
    "                          times each change to the read that carried it out and to the next\n"
    "                          read; FILE gets one \"changed carried next\" line (ns) per change\n"
    "  quit\n"
    "data server commands (with --serve; see docs/data-server.md):\n"
    "  net stats               requests N malformed M connections C accepted A port P\n"
    "  net close               answer the next request by closing its connection\n"
    "  net delay MS            every reply waits MS milliseconds first\n"
    "  net split [MS]          every reply in two pieces, MS (200) ms apart\n"
    "  net bytes [MS]          every reply one byte at a time, MS (20) ms apart\n"
    "  net zeroapart [MS]      every reply's zero byte alone, MS (200) ms after its text\n"
    "  net nozero              replies without their zero byte\n"
    "  net garbage             every reply is \"garbage\"\n"
    "  net normal              whole replies again; drops a pending net close\n";

volatile std::sig_atomic_t stopRequested = 0;

void SleepMs(std::uint64_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

bool ParseUnsigned(const std::string& text, std::uint64_t& value) {
    if (text.empty() || text[0] == '-') return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text.c_str(), &end, 0);
    return !errno && *end == '\0';
}

// A value for SIZE bytes: negative numbers are stored in two's complement.
bool ParseValue(const std::string& text, std::uint64_t& value) {
    if (!text.empty() && text[0] == '-') {
        char* end = nullptr;
        errno = 0;
        long long signedValue = std::strtoll(text.c_str(), &end, 0);
        if (errno || *end) return false;
        value = static_cast<std::uint64_t>(signedValue);
        return true;
    }
    return ParseUnsigned(text, value);
}

struct StandIn {
    OffsetMemory memory;
    SimulatorLink link{memory};
    std::unique_ptr<DataServer> dataServer;
};

// Carries out one command; the reply is one line. Sets quit for "quit".
std::string RunCommand(StandIn& standIn, const std::vector<std::string>& words, bool& quit) {
    const std::string& verb = words[0];
    if (verb == "set" || verb == "get") {
        std::uint64_t offset = 0, size = 0, value = 0;
        bool good = words.size() == (verb == "set" ? 4u : 3u) && ParseUnsigned(words[1], offset) &&
                    ParseUnsigned(words[2], size) && (verb == "get" || ParseValue(words[3], value));
        if (!good) return "error: usage: " + verb + (verb == "set" ? " OFFSET SIZE VALUE" : " OFFSET SIZE");
        if (size != 1 && size != 2 && size != 4 && size != 8) return "error: SIZE must be 1, 2, 4 or 8";
        if (offset + size > OffsetMemory::Size) return "error: OFFSET out of range";
        if (verb == "get")
            return std::to_string(standIn.memory.ReadUnsigned(static_cast<std::uint32_t>(offset),
                                                               static_cast<std::uint32_t>(size)));
        standIn.memory.WriteUnsigned(static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(size), value);
        return "ok";
    }
    if (verb == "misbehave") {
        static const struct {
            const char* name;
            Misbehaviour mode;
        } modes[] = {{"none", Misbehaviour::None},         {"silent", Misbehaviour::Silent},
                     {"answer", Misbehaviour::Answer},     {"garbage", Misbehaviour::Garbage},
                     {"scramble", Misbehaviour::Scramble}, {"badkind", Misbehaviour::BadKind},
                     {"highkind", Misbehaviour::HighKind}};
        for (const auto& entry : modes) {
            if (words.size() < 2 || words[1] != entry.name) continue;
            std::uint64_t answer = 1;
            bool needsValue = entry.mode == Misbehaviour::Answer;
            if (words.size() != (needsValue ? 3u : 2u) ||
                (needsValue && (!ParseValue(words[2], answer))))
                return needsValue ? "error: usage: misbehave answer N" : "error: usage: misbehave " + words[1];
            standIn.link.SetMisbehaviour(entry.mode, static_cast<std::uint32_t>(answer));
            return "ok";
        }
        return "error: modes: none silent answer garbage scramble badkind highkind";
    }
    if (verb == "stats" && words.size() == 1) {
        LinkStats stats = standIn.link.Stats();
        return "exchanges " + std::to_string(stats.exchanges) + " reads " + std::to_string(stats.reads) +
               " writes " + std::to_string(stats.writes);
    }
    if (verb == "clientversion" && words.size() == 1) return std::to_string(standIn.link.Stats().clientVersion);
    if (verb == "sleep") {
        std::uint64_t ms = 0;
        if (words.size() != 2 || !ParseUnsigned(words[1], ms) || ms > 600000) return "error: usage: sleep MS";
        SleepMs(ms);
        return "ok";
    }
    if (verb == "latency") {
        std::uint64_t count = 0, interval = 50;
        if (words.size() < 2 || words.size() > 4 || !ParseUnsigned(words[1], count) || count == 0 ||
            count > 100000 || (words.size() > 2 && (!ParseUnsigned(words[2], interval) || interval > 10000)))
            return "error: usage: latency COUNT [INTERVAL_MS [FILE]]";
        std::FILE* file = nullptr;
        if (words.size() == 4 && !(file = std::fopen(words[3].c_str(), "w")))
            return "error: cannot write " + words[3];
        HeadingLatency latency(standIn.memory);
        LatencyResult result = latency.Run(static_cast<unsigned>(count), static_cast<unsigned>(interval));
        if (file) {
            for (const LatencySample& s : result.samples)
                std::fprintf(file, "%lld %lld %lld\n", static_cast<long long>(s.changedNs),
                             static_cast<long long>(s.carriedNs), static_cast<long long>(s.nextNs));
            if (std::fclose(file) != 0) return "error: cannot write " + words[3];
        }
        return HeadingLatency::Summary(result);
    }
    if (verb == "net") {
        if (!standIn.dataServer) return "error: no data server running (start with --serve PORT)";
        std::string reply;
        bool done = standIn.dataServer->HandleCommand(words, reply);
        if (reply.empty()) reply = done ? "ok" : "error: unknown net command";
        return reply;
    }
    if (verb == "help")
        return "commands: set get misbehave stats clientversion sleep latency quit; net stats close delay split bytes "
               "zeroapart nozero garbage normal (see --help)";
    if (verb == "quit") {
        quit = true;
        return "bye";
    }
    return "error: unknown command " + verb;
}

// Runs one input line; blank lines and "#" comments are not commands and get no reply.
void RunLine(StandIn& standIn, const std::string& line, bool& quit) {
    std::vector<std::string> words = Words(line);
    if (words.empty() || words[0][0] == '#') return;
    std::string reply = RunCommand(standIn, words, quit);
    std::printf("%s\n", reply.c_str());
    std::fflush(stdout);
}

// Reads commands from standard input until quit, its end, or a stop signal.
bool ServeStandardInput(StandIn& standIn) {
    constexpr std::size_t MaxLine = 4096;
    std::string pending;
    bool quit = false;
    while (!quit && !stopRequested) {
        char buffer[1024];
        long n = standardinput::Read(buffer, sizeof buffer, 200);
        if (n < 0) return false;
        if (n == 0) continue;
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t end;
        while (!quit && (end = pending.find('\n')) != std::string::npos) {
            RunLine(standIn, pending.substr(0, end), quit);
            pending.erase(0, end + 1);
        }
        if (pending.size() > MaxLine) {
            std::printf("error: line too long\n");
            std::fflush(stdout);
            pending.clear();
        }
    }
    return quit;
}

}  // namespace

int main(int argc, char** argv) {
    std::string className = "FS98MAIN";
    std::string script;
    std::string bindAddress = "127.0.0.1";
    long servePort = -1;
    bool stay = false;
    bool demoFlight = false;
    double demoSpeed = 1.0;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        bool hasValue = i + 1 < argc;
        if (option == "--class" && hasValue) {
            className = argv[++i];
        } else if (option == "--script" && hasValue) {
            script = argv[++i];
        } else if (option == "--serve" && hasValue) {
            char* end = nullptr;
            servePort = std::strtol(argv[++i], &end, 10);
            if (*end || servePort < 0 || servePort > 65535) {
                std::fprintf(stderr, "simstandin: bad port %s\n", argv[i]);
                return 2;
            }
        } else if (option == "--bind" && hasValue) {
            bindAddress = argv[++i];
        } else if (option == "--no-link") {
            className.clear();
        } else if (option == "--stay") {
            stay = true;
        } else if (option == "--demo") {
            demoFlight = true;
            stay = true;
        } else if (option == "--speed" && hasValue) {
            char* end = nullptr;
            demoSpeed = std::strtod(argv[++i], &end);
            if (*end || !(demoSpeed > 0) || demoSpeed > 1000) {
                std::fprintf(stderr, "simstandin: bad speed %s\n", argv[i]);
                return 2;
            }
        } else if (option == "--help" || option == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        } else {
            std::fputs(Usage, stderr);
            return 2;
        }
    }

    standardinput::InstallStopHandlers(&stopRequested);

    StandIn standIn;
    // What the stand-in reports until told otherwise: versions that pass the client's checks.
    WriteDefaultVersions(standIn.memory);

    std::string error;
    if (!className.empty() && !standIn.link.Start(className.c_str(), error)) {
        std::fprintf(stderr, "simstandin: %s\n", error.c_str());
        return 1;
    }
    if (servePort >= 0) {
        standIn.dataServer = std::make_unique<DataServer>(standIn.memory);
        if (!standIn.dataServer->Start(bindAddress, static_cast<std::uint16_t>(servePort), error)) {
            std::fprintf(stderr, "simstandin: %s\n", error.c_str());
            return 1;
        }
        std::printf("data server listening on port %u\n", static_cast<unsigned>(standIn.dataServer->Port()));
    }
    std::unique_ptr<demo::DemoFlight> flight;
    if (demoFlight) {
        flight = std::make_unique<demo::DemoFlight>(standIn.memory, demoSpeed);
        flight->Start();
        std::printf("demo flight running at %g times real time\n", demoSpeed);
    }
    std::printf("ready\n");
    std::fflush(stdout);

    bool quit = false;
    if (!script.empty()) {
        std::ifstream in(script);
        if (!in) {
            std::fprintf(stderr, "simstandin: cannot read %s\n", script.c_str());
            return 1;
        }
        for (std::string line; !quit && !stopRequested && std::getline(in, line);) RunLine(standIn, line, quit);
    }
    if (!quit) quit = ServeStandardInput(standIn);
    while (!quit && stay && !stopRequested) SleepMs(100);

    if (flight) flight->Stop();
    if (standIn.dataServer) standIn.dataServer->Stop();
    standIn.link.Stop();
    return 0;
}
