// One value asked of the data server: "offset,size,code" and a zero byte out; back comes the
// text of one number, gathered up to its zero byte from however many pieces TCP delivers it
// in. A reply whose first piece holds its zero byte is taken at once; a server that sends no
// zero byte at all is served too, its reply taken once nothing more has come for
// ReplySettleMilliseconds. A silent server is given 15 seconds in all; an unsent request is
// not waited for; a reply cut short by the server's close, or longer than MaxReplyLength,
// yields 0. In each of those cases the connection is closed so that no later reply is taken
// for the wrong request, and the main loop connects again.
#include "net/ValueRequest.h"

#include "base/Runtime.h"
#include "net/KvTcpIpcUdp.h"

#include <chrono>
#include <cstring>

TKvTcpBlockClient* TcpClient = nullptr;

namespace {

using Clock = std::chrono::steady_clock;

// Each wait for the reply lasts up to this many seconds; the server is given this many in all.
constexpr std::int32_t ReceiveRoundSeconds = 5;
constexpr std::int32_t ReplyTimeLimitSeconds = 15;

// Whether more of the reply arrives (or the connection ends) within the time.
bool MoreArrives(TKvTcpBlockClient* client, Clock::duration within) {
    auto microseconds = std::chrono::duration_cast<std::chrono::microseconds>(within).count();
    if (microseconds < 0) microseconds = 0;
    return WaitSocketReadable(client->Socket()->GetHandle(), static_cast<long>(microseconds / 1000000),
                              static_cast<long>(microseconds % 1000000)) > 0;
}

// The exchange cannot be finished: the connection goes, so that a late or leftover reply is
// never paired with a later request.
double GiveUp(TKvTcpBlockClient* client) {
    client->Disconnect();
    return 0;
}

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

    // The first piece: the server may take its time.
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
        if (Clock::now() >= deadline) return GiveUp(client);
    }

    // The rest, piece by piece, up to the first zero byte; what follows it is dropped.
    const auto settle = std::chrono::milliseconds(ReplySettleMilliseconds);
    std::string reply;
    for (;;) {
        const void* zero = std::memchr(data, 0, static_cast<std::size_t>(size));
        std::size_t length = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - data)
                                  : static_cast<std::size_t>(size);
        reply.append(data, length);
        if (reply.size() > MaxReplyLength) return GiveUp(client);
        if (zero) break;

        Clock::duration left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return GiveUp(client);
        bool settleFits = left >= settle;
        if (!MoreArrives(client, settleFits ? Clock::duration(settle) : left)) {
            // Nothing more: a reply without a zero byte is complete, unless the time is up.
            if (!settleFits) return GiveUp(client);
            break;
        }
        // Readable but nothing read: the server closed (or the connection broke) in the
        // middle of the reply, and the socket has closed itself.
        if (!client->Receive(data, size, 0)) return client->Connected() ? GiveUp(client) : 0;
    }
    return StrToFloat(reply);
}
