// The stand-in's end of the link's local transport on Linux, where the instrument's
// SendMessageTimeoutA arrives (on Windows the simulator's real window receives it). The server
// holds the class's lock file for its whole life; that lock is what tells clients, and a later
// server, that the socket is live.
#include "LinkServer.h"

#include "formats/ByteOrder.h"
#include "platform/System.h"
#include "platform/posix/posix_common.h"
#include "platform/posix/posix_link_transport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

using namespace linktransport;

struct LinkServer::Transport {
    void DropHungUpConnections(const std::vector<int>& ready);
    int listener_ = -1;
    int lock_ = -1;
    std::string socketPath_;
    std::vector<int> held_;  // connections left unanswered on purpose
};

namespace {

constexpr std::size_t MaxHeld = 64;
// A client writes its request right after connecting; one that does not is dropped.
constexpr int RequestReadMs = 1000;

bool ReadRequest(int fd, unsigned char* request) {
    std::size_t received = 0;
    while (received < RequestSize) {
        short revents = 0;
        auto deadline = posixcommon::Clock::now() + std::chrono::milliseconds(RequestReadMs);
        if (posixcommon::PollUntil(fd, POLLIN, deadline, revents) <= 0) return false;
        ssize_t n = recv(fd, request + received, RequestSize - received, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        received += static_cast<std::size_t>(n);
    }
    return true;
}

// Whether the client has closed its end already, i.e. given up waiting for this answer.
bool SenderGone(int fd) {
    pollfd entry{fd, POLLRDHUP, 0};
    return poll(&entry, 1, 0) > 0 && (entry.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

bool SameUser(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 && credentials.uid == geteuid();
}

}  // namespace

LinkServer::LinkServer() : transport_(std::make_unique<Transport>()) {}

LinkServer::~LinkServer() {
    Close();
}

bool LinkServer::Listen(const char* className, std::string& error) {
    Close();
    Transport& t = *transport_;
    int& lock_ = t.lock_;
    int& listener_ = t.listener_;
    std::string folder;
    if (!LinkDirectory(folder, &error)) return false;
    std::string lockPath = WindowLockPath(folder, className);
    lock_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock_ < 0) {
        error = "cannot open " + lockPath + ": " + std::strerror(errno);
        return false;
    }
    if (flock(lock_, LOCK_EX | LOCK_NB) != 0) {
        error = std::string("another process already serves ") + className;
        Close();
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string socketPath = WindowSocketPath(folder, className);
    if (socketPath.size() >= sizeof address.sun_path) {
        error = "socket path too long: " + socketPath;
        Close();
        return false;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    // We hold the lock, so a socket still there was left by a server that crashed.
    unlink(socketPath.c_str());
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        chmod(socketPath.c_str(), 0600) != 0 || listen(listener_, 64) != 0) {
        error = "cannot listen on " + socketPath + ": " + std::strerror(errno);
        Close();
        return false;
    }
    t.socketPath_ = socketPath;
    return true;
}

void LinkServer::Transport::DropHungUpConnections(const std::vector<int>& ready) {
    for (int fd : ready) {
        close(fd);
        held_.erase(std::remove(held_.begin(), held_.end(), fd), held_.end());
    }
}

bool LinkServer::ServeOne(int timeoutMs, const Handler& handler) {
    Transport& t = *transport_;
    int& listener_ = t.listener_;
    std::vector<int>& held_ = t.held_;
    if (listener_ < 0) return false;
    std::vector<pollfd> entries;
    entries.push_back(pollfd{listener_, POLLIN, 0});
    for (int fd : held_) entries.push_back(pollfd{fd, POLLIN | POLLRDHUP, 0});
    int count = poll(entries.data(), entries.size(), timeoutMs);
    if (count <= 0) return false;
    // A held connection that becomes readable has either hung up or broken the
    // one-request rule; either way it is finished.
    std::vector<int> finished;
    for (std::size_t i = 1; i < entries.size(); ++i)
        if (entries[i].revents) finished.push_back(entries[i].fd);
    t.DropHungUpConnections(finished);
    if (!(entries[0].revents & POLLIN)) return false;

    int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return false;
    unsigned char request[RequestSize];
    if (!SameUser(fd) || !ReadRequest(fd, request) || GetLe32(request) != RequestMagic || SenderGone(fd)) {
        close(fd);
        return false;
    }
    LinkRequest message;
    message.message = GetLe32(request + 4);
    message.wParam = static_cast<WPARAM>(GetLe64(request + 8));
    message.lParam = static_cast<LPARAM>(GetLe64(request + 16));
    message.senderPid = GetLe32(request + 24);
    message.timeoutMs = GetLe32(request + 28);
    DWORD answer = 0;
    if (!handler(message, answer)) {
        if (held_.size() >= MaxHeld) {
            close(held_.front());
            held_.erase(held_.begin());
        }
        held_.push_back(fd);
        return true;
    }
    unsigned char reply[ReplySize];
    PutLe32(reply, ReplyMagic);
    PutLe32(reply + 4, answer);
    // Eight bytes always fit an empty socket buffer; a client that has gone gets nothing.
    send(fd, reply, sizeof reply, MSG_NOSIGNAL);
    close(fd);
    return true;
}

void LinkServer::Close() {
    Transport& t = *transport_;
    int& lock_ = t.lock_;
    int& listener_ = t.listener_;
    std::string& socketPath_ = t.socketPath_;
    std::vector<int>& held_ = t.held_;
    for (int fd : held_) close(fd);
    held_.clear();
    if (listener_ >= 0) {
        close(listener_);
        listener_ = -1;
    }
    if (!socketPath_.empty()) {
        unlink(socketPath_.c_str());
        socketPath_.clear();
    }
    // The lock file stays: removing it while others may have it open would let two
    // servers hold "the" lock at once.
    if (lock_ >= 0) {
        close(lock_);
        lock_ = -1;
    }
}
