// The bridge's UDP socket on BSD sockets (Linux). Waits with poll; datagrams that are longer
// than the caller's buffer are cut, as recvfrom does.
#include "UdpSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

std::string FormatAddress(const UdpAddress& address) {
    in_addr in{};
    in.s_addr = htonl(address.ipv4);
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &in, text, sizeof text);
    return std::string(text) + ":" + std::to_string(address.port);
}

bool ResolveIPv4(const std::string& host, std::uint32_t& ipv4, std::string& error) {
    in_addr in{};
    if (inet_pton(AF_INET, host.c_str(), &in) == 1) {
        ipv4 = ntohl(in.s_addr);
        return true;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        error = "cannot resolve " + host + ": " + gai_strerror(rc);
        return false;
    }
    ipv4 = ntohl(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return true;
}

bool UdpSocket::Open(const std::string& bindAddress, std::uint16_t port, std::string& error) {
    Close();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!bindAddress.empty() && inet_pton(AF_INET, bindAddress.c_str(), &address.sin_addr) != 1) {
        error = "not an IPv4 address: " + bindAddress;
        return false;
    }
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int code = errno;
        error = code == EADDRINUSE ? "UDP port " + std::to_string(port) + " is in use"
                                   : "cannot bind UDP port " + std::to_string(port) + ": " + std::strerror(code);
        close(fd);
        return false;
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    handle_ = fd;
    port_ = ntohs(address.sin_port);
    return true;
}

bool UdpSocket::SendTo(const UdpAddress& to, const void* data, std::size_t length) {
    if (handle_ < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(to.port);
    address.sin_addr.s_addr = htonl(to.ipv4);
    ssize_t sent = sendto(static_cast<int>(handle_), data, length, MSG_NOSIGNAL,
                          reinterpret_cast<sockaddr*>(&address), sizeof address);
    return sent == static_cast<ssize_t>(length);
}

long UdpSocket::Receive(void* buffer, std::size_t size, int timeoutMs, UdpAddress* from) {
    if (handle_ < 0) return -1;
    pollfd entry{static_cast<int>(handle_), POLLIN, 0};
    int ready = poll(&entry, 1, timeoutMs);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready == 0) return 0;
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ssize_t received = recvfrom(static_cast<int>(handle_), buffer, size, MSG_DONTWAIT,
                                reinterpret_cast<sockaddr*>(&address), &length);
    if (received < 0) {
        // A refused earlier send (nobody at the simulator's port yet) surfaces here on Linux;
        // that is no fault of this socket.
        return errno == EAGAIN || errno == EINTR || errno == ECONNREFUSED ? 0 : -1;
    }
    if (from) {
        from->ipv4 = ntohl(address.sin_addr.s_addr);
        from->port = ntohs(address.sin_port);
    }
    return static_cast<long>(received);
}

void UdpSocket::Close() {
    if (handle_ >= 0) close(static_cast<int>(handle_));
    handle_ = -1;
    port_ = 0;
}
