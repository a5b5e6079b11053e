// xplane-double: the X-Plane end of the RREF subscriptions, for tests. It listens on a UDP
// port, takes subscriptions ("RREF" and a zero byte, frequency, index, 400-byte path) from
// anyone, and answers each subscriber at its highest frequency with "RREF," and one index
// and float32 value pair per subscription. Commands on standard input:
//   set PATH VALUE   the value of a dataref (unknown ones read 0); replies "ok" and the
//                    value as a float32, exactly
//   silent | talk    stop and resume answering (a paused or closed X-Plane)
//   subs             the subscriptions held: "subscriptions N frequency F"
//   stats            "answers N"
//   quit
// Every subscription request is logged as "subscribe FREQ INDEX PATH" (FREQ 0: unsubscribe).
#include "DoubleConsole.h"
#include "UdpSocket.h"
#include "XPlaneProtocol.h"

#include "formats/ByteOrder.h"

#include <cstdlib>
#include <cstring>
#include <map>

namespace {

struct Subscriber {
    std::map<std::int32_t, std::string> paths;      // index -> dataref
    std::map<std::int32_t, std::int32_t> frequency;  // index -> times a second
    std::chrono::steady_clock::time_point nextAnswer{};
};

std::int32_t HighestFrequency(const Subscriber& s) {
    std::int32_t highest = 0;
    for (const auto& entry : s.frequency) highest = std::max(highest, entry.second);
    return highest;
}

}  // namespace

int main(int argc, char** argv) {
    int port = 0;
    if (argc == 3 && std::strcmp(argv[1], "--port") == 0) port = std::atoi(argv[2]);
    else if (argc != 1) {
        std::fprintf(stderr, "usage: xplane-double [--port N]\n");
        return 2;
    }
    UdpSocket socket;
    std::string error;
    if (!socket.Open("127.0.0.1", static_cast<std::uint16_t>(port), error)) {
        std::fprintf(stderr, "xplane-double: %s\n", error.c_str());
        return 1;
    }
    DoubleConsole console;
    DoubleConsole::Say("listening on port " + std::to_string(socket.LocalPort()));

    std::map<std::string, float> values;
    std::map<std::pair<std::uint32_t, std::uint16_t>, Subscriber> subscribers;
    bool talking = true;
    unsigned long long answers = 0;
    for (;;) {
        std::vector<std::string> words;
        while (console.Next(words)) {
            if (words[0] == "set" && words.size() == 3) {
                values[words[1]] = std::strtof(words[2].c_str(), nullptr);
                // The value as it goes out, so a test can work out what the bridge must make of it.
                char sent[64];
                std::snprintf(sent, sizeof sent, "ok %.17g", static_cast<double>(values[words[1]]));
                DoubleConsole::Say(sent);
            } else if (words[0] == "silent" || words[0] == "talk") {
                talking = words[0] == "talk";
                DoubleConsole::Say("ok");
            } else if (words[0] == "subs") {
                std::size_t count = 0;
                std::int32_t highest = 0;
                for (const auto& entry : subscribers) {
                    for (const auto& f : entry.second.frequency) count += f.second > 0;
                    highest = std::max(highest, HighestFrequency(entry.second));
                }
                DoubleConsole::Say("subscriptions " + std::to_string(count) + " frequency " + std::to_string(highest));
            } else if (words[0] == "stats") {
                DoubleConsole::Say("answers " + std::to_string(answers));
            } else if (words[0] == "quit") {
                DoubleConsole::Say("bye");
                return 0;
            } else {
                DoubleConsole::Say("error: set PATH VALUE | silent | talk | subs | stats | quit");
            }
        }
        if (console.Ended()) return 0;

        std::uint8_t datagram[1024];
        UdpAddress from;
        long length = socket.Receive(datagram, sizeof datagram, 5, &from);
        if (length == static_cast<long>(xplane::SubscriptionSize) && std::memcmp(datagram, "RREF\0", 5) == 0) {
            auto frequency = static_cast<std::int32_t>(GetLe32(datagram + 5));
            auto index = static_cast<std::int32_t>(GetLe32(datagram + 9));
            std::string path(reinterpret_cast<char*>(datagram + 13), strnlen(reinterpret_cast<char*>(datagram + 13), 400));
            Subscriber& s = subscribers[{from.ipv4, from.port}];
            if (frequency > 0) {
                s.paths[index] = path;
                s.frequency[index] = frequency;
            } else {
                s.paths.erase(index);
                s.frequency.erase(index);
            }
            DoubleConsole::Say("subscribe " + std::to_string(frequency) + " " + std::to_string(index) + " " + path);
        } else if (length > 0) {
            DoubleConsole::Say("ignored a datagram of " + std::to_string(length) + " bytes");
        }

        auto now = std::chrono::steady_clock::now();
        for (auto& entry : subscribers) {
            Subscriber& s = entry.second;
            std::int32_t frequency = HighestFrequency(s);
            if (!talking || frequency <= 0 || now < s.nextAnswer) continue;
            s.nextAnswer = now + std::chrono::microseconds(1000000 / frequency);
            std::vector<std::uint8_t> answer = {'R', 'R', 'E', 'F', ','};
            for (const auto& path : s.paths) {
                float value = values.count(path.second) ? values[path.second] : 0.0f;
                std::uint32_t bits;
                std::memcpy(&bits, &value, 4);
                std::uint8_t pair[8];
                PutLe32(pair, static_cast<std::uint32_t>(path.first));
                PutLe32(pair + 4, bits);
                answer.insert(answer.end(), pair, pair + 8);
            }
            UdpAddress to{entry.first.first, entry.first.second};
            if (socket.SendTo(to, answer.data(), answer.size())) ++answers;
        }
    }
}
