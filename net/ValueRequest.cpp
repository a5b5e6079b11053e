// One value asked of the data server: "offset,size,code" and a zero byte out; back comes
// whatever is waiting when the connection turns readable, up to its first zero byte, as
// the text of one number. A silent server is given 15 seconds; an unsent request is not
// waited for. In both cases the connection is closed so that no later reply is taken for
// the wrong request, and the main loop connects again.
#include "net/ValueRequest.h"

#include "base/Runtime.h"
#include "net/KvTcpIpcUdp.h"

#include <chrono>
#include <cstring>

TKvTcpBlockClient* TcpClient = nullptr;

namespace {

// Each wait for the reply lasts up to this many seconds; the server is given this many in all.
constexpr std::int32_t ReceiveRoundSeconds = 5;
constexpr std::int32_t ReplyTimeLimitSeconds = 15;

}  // namespace

double RequestValue(std::int32_t offset, const std::string& sizeText, const std::string& codeText) {
    TKvTcpBlockClient* client = TcpClient;
    if (!client || !client->Connected()) return 0;

    std::string request = std::to_string(offset) + "," + sizeText + "," + codeText;
    if (!client->SendText(request)) {
        // Not writable in time, or the send failed. Waiting would pair the next reply with
        // the wrong request, so the connection is given up.
        client->Disconnect();
        return 0;
    }

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(ReplyTimeLimitSeconds);
    const char* data = nullptr;
    std::int32_t size = 0;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::seconds>(deadline - Clock::now() +
                                                                     std::chrono::milliseconds(999));
        std::int32_t seconds = static_cast<std::int32_t>(left.count());
        if (seconds > ReceiveRoundSeconds) seconds = ReceiveRoundSeconds;
        if (seconds > 0 && client->Receive(data, size, seconds)) break;
        if (!client->Connected()) return 0;
        if (Clock::now() >= deadline) {
            client->Disconnect();
            return 0;
        }
    }

    // The reply ends at its first zero byte, if it has one; the rest is dropped.
    const void* zero = std::memchr(data, 0, static_cast<std::size_t>(size));
    std::size_t length = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - data)
                              : static_cast<std::size_t>(size);
    return StrToFloat(std::string(data, length));
}
