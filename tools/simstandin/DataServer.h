// The stand-in's companion data server: serves the offset memory to instruments in network
// mode, one request "offset,size,code" and a zero byte in, the text of one number and a zero
// byte out (docs/data-server.md). Many clients at once, one thread each; the sockets of the
// platform seam (BSD sockets on Linux, Winsock on Windows).
// It can misbehave on command ("net close", "net delay", "net bytes", ...) so tests can see
// the instrument cope with a server that hangs up, dawdles, sends its replies in pieces or
// talks nonsense. Accepted connections use TCP_NODELAY, so every piece is a segment of its own.
#pragma once

#include "OffsetMemory.h"
#include "platform/Sockets.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class DataServer {
public:
    explicit DataServer(OffsetMemory& memory);
    ~DataServer();
    DataServer(const DataServer&) = delete;
    DataServer& operator=(const DataServer&) = delete;

    // Listens on bindAddress (dotted IPv4; empty for every interface) and port (0 = any
    // free port). False with a reason in error when it cannot, or when it runs already.
    bool Start(const std::string& bindAddress, std::uint16_t port, std::string& error);
    // The port it listens on; 0 while stopped.
    std::uint16_t Port() const;
    // Closes every connection and the listener; waits for the threads. Safe to call twice.
    void Stop();

    // Carries out a command whose first word is "net": close, delay <ms>, split [ms],
    // bytes [ms], zeroapart [ms], nozero, garbage, normal, stats. True when carried out (reply holds the answer); false when it
    // is no net command (reply empty) or a bad one (reply says why).
    bool HandleCommand(const std::vector<std::string>& words, std::string& reply);

    // Requests answered since the start (malformed ones included).
    std::uint64_t RequestsServed() const { return served_.load(); }
    // Clients connected now.
    std::size_t ConnectedClients() const;

    // The reply text (without its zero byte) for one request text; what a well-behaved
    // server says. Malformed requests read "0".
    std::string Answer(const std::string& request, bool& wellFormed) const;

private:
    struct Client {
        SOCKET fd = INVALID_SOCKET;
        std::thread thread;
        std::atomic<bool> finished{false};
    };
    // How replies go out: whole, late, in pieces, without their zero byte, or as nonsense.
    enum class Mode { Normal, Delay, Split, Bytes, ZeroApart, NoZero, Garbage };

    OffsetMemory& memory_;
    SOCKET listener_ = INVALID_SOCKET;
    // Every wait for a socket is this short, so the threads notice stopping_ soon enough.
    static constexpr long WaitStepUs = 50000;
    std::uint16_t port_ = 0;
    std::thread acceptThread_;
    mutable std::mutex clientsMutex_;
    std::list<std::unique_ptr<Client>> clients_;

    // Behaviour, changed by commands while clients are served.
    mutable std::mutex behaviourMutex_;
    std::condition_variable stopSignal_;
    bool stopping_ = false;
    Mode mode_ = Mode::Normal;
    int delayMs_ = 0;
    int piecePauseMs_ = 200;  // between the pieces of one reply (split, bytes, zeroapart)
    bool closeNext_ = false;

    std::atomic<std::uint64_t> served_{0};
    std::atomic<std::uint64_t> malformed_{0};
    std::atomic<std::uint64_t> accepted_{0};

    void AcceptLoop();
    void Serve(Client* client);
    // Sends the reply (text and zero byte) the way the current behaviour says; false when
    // the connection is to end.
    bool Reply(SOCKET fd, const std::string& request);
    bool SendAll(SOCKET fd, const char* bytes, std::size_t length);
    bool Stopping() const;
    // Sleeps, but wakes early when the server stops; false then.
    bool Pause(int milliseconds);
    void ReapFinished(bool all);
};
