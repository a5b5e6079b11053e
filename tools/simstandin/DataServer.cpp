// The data server: one accepting thread, one thread per client. A request is read up to its
// zero byte (at most MaxRequestLength bytes, or the client is cut off: its requests can no
// longer be told apart), answered from the offset memory, and counted.
#include "DataServer.h"

#include <chrono>
#include <cstring>

namespace {

constexpr std::size_t MaxRequestLength = 256;
constexpr char GarbageReply[] = "garbage";

// Decimal digits with an optional leading minus, within the signed 32-bit range.
bool ParseOffset(const std::string& text, std::int64_t& value) {
    std::size_t i = text.size() > 0 && text[0] == '-' ? 1 : 0;
    if (i == text.size() || text.size() - i > 10) return false;
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        magnitude = magnitude * 10 + (text[i] - '0');
    }
    value = text[0] == '-' ? -magnitude : magnitude;
    return value >= INT32_MIN && value <= INT32_MAX;
}

// A dotted IPv4 address a.b.c.d into network byte order.
bool ParseIPv4(const std::string& text, std::uint32_t& address) {
    std::uint32_t value = 0;
    int parts = 0;
    std::size_t i = 0;
    while (parts < 4) {
        std::size_t start = i;
        unsigned part = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) part = part * 10 + (text[i++] - '0');
        if (i == start || part > 255) return false;
        value = (value << 8) | part;
        ++parts;
        if (parts < 4) {
            if (i >= text.size() || text[i] != '.') return false;
            ++i;
        }
    }
    if (i != text.size()) return false;
    address = htonl(value);
    return true;
}

std::string SocketErrorText() {
    return "error " + std::to_string(WSAGetLastError());
}

}  // namespace

DataServer::DataServer(OffsetMemory& memory) : memory_(memory) {}

DataServer::~DataServer() {
    Stop();
}

bool DataServer::Start(const std::string& bindAddress, std::uint16_t port, std::string& error) {
    if (listener_ != INVALID_SOCKET) {
        error = "the data server runs already";
        return false;
    }
    WSADATA data;
    if (WSAStartup(0x0101, &data) != 0) {
        error = "the socket library does not start";
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    std::uint32_t bound = 0;
    if (!bindAddress.empty()) {
        if (!ParseIPv4(bindAddress, bound)) {
            error = "not an IPv4 address: " + bindAddress;
            return false;
        }
        address.sin_addr.s_addr = bound;
    }
    SOCKET fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd == INVALID_SOCKET) {
        error = "socket: " + SocketErrorText();
        return false;
    }
    int on = 1;
#ifdef _WIN32
    // Winsock's SO_REUSEADDR would let a second server take the port over from the first;
    // exclusive use makes the second one fail as it does on Linux.
    setsockopt(fd, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
#else
    // A stand-in restarted on the same port must not wait for old connections to time out.
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
#endif
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 64) != 0) {
        error = WSAGetLastError() == WSAEADDRINUSE
                    ? "port " + std::to_string(port) + " is in use"
                    : "cannot listen on port " + std::to_string(port) + ": " + SocketErrorText();
        closesocket(fd);
        return false;
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    listener_ = fd;
    port_ = ntohs(address.sin_port);
    {
        std::lock_guard<std::mutex> lock(behaviourMutex_);
        stopping_ = false;
    }
    acceptThread_ = std::thread(&DataServer::AcceptLoop, this);
    return true;
}

std::uint16_t DataServer::Port() const {
    return port_;
}

void DataServer::Stop() {
    if (listener_ == INVALID_SOCKET) return;
    {
        std::lock_guard<std::mutex> lock(behaviourMutex_);
        stopping_ = true;
    }
    stopSignal_.notify_all();
    if (acceptThread_.joinable()) acceptThread_.join();
    ReapFinished(true);
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
    port_ = 0;
}

bool DataServer::Stopping() const {
    std::lock_guard<std::mutex> lock(behaviourMutex_);
    return stopping_;
}

void DataServer::AcceptLoop() {
    while (!Stopping()) {
        int ready = WaitSocketReadable(listener_, 0, WaitStepUs);
        ReapFinished(false);
        if (ready <= 0) continue;
        SOCKET fd = accept(listener_, nullptr, nullptr);
        if (fd == INVALID_SOCKET) continue;
        // Replies are small and awaited one by one: send each at once.
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        ++accepted_;
        auto client = std::make_unique<Client>();
        client->fd = fd;
        Client* raw = client.get();
        std::lock_guard<std::mutex> lock(clientsMutex_);
        clients_.push_back(std::move(client));
        raw->thread = std::thread(&DataServer::Serve, this, raw);
    }
}

void DataServer::ReapFinished(bool all) {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    for (auto it = clients_.begin(); it != clients_.end();) {
        Client& client = **it;
        if (!all && !client.finished) {
            ++it;
            continue;
        }
        // Stopping: cut the connection so that a thread blocked in send returns.
        if (all) shutdown(client.fd, SD_BOTH);
        if (client.thread.joinable()) client.thread.join();
        closesocket(client.fd);
        it = clients_.erase(it);
    }
}

void DataServer::Serve(Client* client) {
    std::string pending;
    char buffer[512];
    bool open = true;
    while (open && !Stopping()) {
        int ready = WaitSocketReadable(client->fd, 0, WaitStepUs);
        if (ready < 0) break;
        if (ready == 0) continue;
        int received = static_cast<int>(recv(client->fd, buffer, sizeof buffer, 0));
        if (received <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(received));
        std::size_t zero;
        while (open && (zero = pending.find('\0')) != std::string::npos) {
            std::string request = pending.substr(0, zero);
            pending.erase(0, zero + 1);
            open = request.size() <= MaxRequestLength && Reply(client->fd, request);
        }
        if (pending.size() > MaxRequestLength) open = false;
    }
    // The socket is closed by whoever joins this thread; a FIN goes out now.
    shutdown(client->fd, SD_BOTH);
    client->finished = true;
}

std::string DataServer::Answer(const std::string& request, bool& wellFormed) const {
    wellFormed = false;
    std::size_t first = request.find(',');
    std::size_t second = first == std::string::npos ? first : request.find(',', first + 1);
    if (second == std::string::npos || request.find(',', second + 1) != std::string::npos) return "0";
    std::string offsetText = request.substr(0, first);
    std::string sizeText = request.substr(first + 1, second - first - 1);
    std::string codeText = request.substr(second + 1);
    std::int64_t offset = 0;
    if (!ParseOffset(offsetText, offset) || offset < 0) return "0";
    std::uint32_t size = sizeText == "1" ? 1 : sizeText == "2" ? 2 : sizeText == "4" ? 4 : sizeText == "8" ? 8 : 0;
    if (size == 0) return "0";
    bool isSigned;
    if (codeText == "4" || codeText == "6")
        isSigned = true;
    else if (codeText == "5")
        isSigned = false;
    else
        return "0";
    wellFormed = true;
    std::uint64_t bits = memory_.ReadUnsigned(static_cast<std::uint32_t>(offset), size);
    if (!isSigned) return std::to_string(bits);
    if (size < 8) {
        std::uint64_t sign = std::uint64_t(1) << (8 * size - 1);
        if (bits & sign) bits |= ~((sign << 1) - 1);  // extend the sign into the upper bits
    }
    return std::to_string(static_cast<std::int64_t>(bits));
}

bool DataServer::Reply(SOCKET fd, const std::string& request) {
    Mode mode;
    int delayMs, piecePauseMs;
    {
        std::lock_guard<std::mutex> lock(behaviourMutex_);
        if (closeNext_) {
            closeNext_ = false;
            return false;
        }
        mode = mode_;
        delayMs = delayMs_;
        piecePauseMs = piecePauseMs_;
    }
    bool wellFormed = false;
    std::string text = Answer(request, wellFormed);
    if (!wellFormed) ++malformed_;
    if (mode == Mode::Garbage) text = GarbageReply;
    if (mode != Mode::NoZero) text.push_back('\0');
    if (mode == Mode::Delay && !Pause(delayMs)) return false;
    // Where the reply is cut into pieces, each sent on its own after a pause.
    std::vector<std::size_t> cuts;
    if (mode == Mode::Split && text.size() > 1) {
        cuts.push_back(text.size() / 2);
    } else if (mode == Mode::Bytes) {
        for (std::size_t at = 1; at < text.size(); ++at) cuts.push_back(at);
    } else if (mode == Mode::ZeroApart && text.size() > 1) {
        cuts.push_back(text.size() - 1);
    }
    // Counted before it goes: a client that has its reply may ask for the count at once.
    ++served_;
    bool sent = true;
    std::size_t start = 0;
    for (std::size_t cut : cuts) {
        sent = sent && SendAll(fd, text.data() + start, cut - start) && Pause(piecePauseMs);
        start = cut;
    }
    sent = sent && SendAll(fd, text.data() + start, text.size() - start);
    if (!sent) --served_;
    return sent;
}

bool DataServer::SendAll(SOCKET fd, const char* bytes, std::size_t length) {
    // WSAStartup has made a reset connection fail the send rather than raise SIGPIPE.
    while (length > 0) {
        int sent = static_cast<int>(send(fd, bytes, static_cast<int>(length), 0));
        if (sent < 0 && WSAGetLastError() == WSAEINTR) continue;
        if (sent <= 0) return false;
        bytes += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool DataServer::Pause(int milliseconds) {
    std::unique_lock<std::mutex> lock(behaviourMutex_);
    return !stopSignal_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stopping_; });
}

std::size_t DataServer::ConnectedClients() const {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    std::size_t open = 0;
    for (const auto& client : clients_)
        if (!client->finished) ++open;
    return open;
}

bool DataServer::HandleCommand(const std::vector<std::string>& words, std::string& reply) {
    reply.clear();
    if (words.empty() || words[0] != "net") return false;
    const std::string what = words.size() > 1 ? words[1] : "";
    auto number = [&](std::size_t index, int fallback, int& out) {
        if (words.size() <= index) {
            out = fallback;
            return fallback >= 0;
        }
        const std::string& text = words[index];
        if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
            return false;
        out = std::stoi(text);
        return true;
    };
    if (what == "stats" && words.size() == 2) {
        std::size_t open = ConnectedClients();
        reply = "requests " + std::to_string(served_.load()) + " malformed " + std::to_string(malformed_.load()) +
                " connections " + std::to_string(open) + " accepted " + std::to_string(accepted_.load()) +
                " port " + std::to_string(port_);
        return true;
    }
    int milliseconds = 0;
    std::lock_guard<std::mutex> lock(behaviourMutex_);
    if (what == "close" && words.size() == 2) {
        closeNext_ = true;
        reply = "ok: the next request is answered by closing its connection";
    } else if (what == "delay" && words.size() == 3 && number(2, -1, milliseconds)) {
        mode_ = Mode::Delay;
        delayMs_ = milliseconds;
        reply = "ok: answers wait " + std::to_string(delayMs_) + " ms";
    } else if (what == "split" && words.size() <= 3 && number(2, 200, milliseconds)) {
        mode_ = Mode::Split;
        piecePauseMs_ = milliseconds;
        reply = "ok: answers go in two pieces " + std::to_string(piecePauseMs_) + " ms apart";
    } else if (what == "bytes" && words.size() <= 3 && number(2, 20, milliseconds)) {
        mode_ = Mode::Bytes;
        piecePauseMs_ = milliseconds;
        reply = "ok: answers go one byte at a time, " + std::to_string(piecePauseMs_) + " ms apart";
    } else if (what == "zeroapart" && words.size() <= 3 && number(2, 200, milliseconds)) {
        mode_ = Mode::ZeroApart;
        piecePauseMs_ = milliseconds;
        reply = "ok: the zero byte of each answer goes alone, " + std::to_string(piecePauseMs_) + " ms later";
    } else if (what == "nozero" && words.size() == 2) {
        mode_ = Mode::NoZero;
        reply = "ok: answers go without their zero byte";
    } else if (what == "garbage" && words.size() == 2) {
        mode_ = Mode::Garbage;
        reply = "ok: answers are \"" + std::string(GarbageReply) + "\"";
    } else if (what == "normal" && words.size() == 2) {
        mode_ = Mode::Normal;
        closeNext_ = false;
        reply = "ok: normal answers";
    } else {
        reply = "usage: net close | net delay <ms> | net split [ms] | net bytes [ms] | net zeroapart [ms] | "
                "net nozero | net garbage | net normal | net stats";
        return false;
    }
    return true;
}
