// The bridge's UDP socket, over the sockets of the platform seam (BSD sockets on Linux,
// Winsock on Windows): errors come as Windows Sockets numbers on both. Datagrams longer than
// the caller's buffer are cut. On Windows the socket is bound with SO_EXCLUSIVEADDRUSE, so
// that a second bridge on the same port fails as on Linux instead of sharing the port, and
// an ICMP "port unreachable" for an earlier send does not fail every later receive.
#include "UdpSocket.h"

#include "net/KvTcpIpcUdp.h"
#include "platform/Sockets.h"

#include <cstdio>

#ifdef _WIN32
#include <mswsock.h>
#include <ws2tcpip.h>
#endif

namespace {

#ifdef _WIN32
constexpr int ReceiveFlags = 0;
#else
// The wait said readable, but a datagram with a bad checksum is dropped after it.
constexpr int ReceiveFlags = MSG_DONTWAIT;
#endif

// The socket library needs starting once per process; the bridge never stops it.
bool StartSockets(std::string& error) {
    static int result = [] {
        WSADATA data;
        return WSAStartup(0x0202, &data);  // version 2.2
    }();
    if (result != 0) error = "the socket library does not start (error " + std::to_string(result) + ")";
    return result == 0;
}

// Dotted IPv4 text to an address in network byte order (inet_pton is missing before Vista).
bool ParseDotted(const std::string& text, in_addr& address) {
    unsigned parts[4];
    char tail = 0;
    if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &parts[0], &parts[1], &parts[2], &parts[3], &tail) != 4)
        return false;
    std::uint32_t value = 0;
    for (unsigned part : parts) {
        if (part > 255) return false;
        value = (value << 8) | part;
    }
    address.s_addr = htonl(value);
    return true;
}

// Whether a failed bind means another socket holds the port (Windows answers an exclusive
// hold with WSAEACCES).
bool PortTaken(int code) {
#ifdef _WIN32
    if (code == WSAEACCES) return true;
#endif
    return code == WSAEADDRINUSE;
}

// No datagram rather than a fault: nothing waiting, a signal, or a refused earlier send
// (nobody at the simulator's port yet) that the system reports on the next receive.
bool NothingReceived(int code) {
    return code == WSAEWOULDBLOCK || code == WSAEINTR || code == WSAECONNREFUSED || code == WSAECONNRESET;
}

}  // namespace

std::string FormatAddress(const UdpAddress& address) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", static_cast<unsigned>(address.ipv4 >> 24),
                  static_cast<unsigned>((address.ipv4 >> 16) & 0xFF), static_cast<unsigned>((address.ipv4 >> 8) & 0xFF),
                  static_cast<unsigned>(address.ipv4 & 0xFF), static_cast<unsigned>(address.port));
    return text;
}

bool ResolveIPv4(const std::string& host, std::uint32_t& ipv4, std::string& error) {
    if (!StartSockets(error)) return false;
    in_addr in{};
    if (ParseDotted(host, in)) {
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
    if (!StartSockets(error)) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!bindAddress.empty() && !ParseDotted(bindAddress, address.sin_addr)) {
        error = "not an IPv4 address: " + bindAddress;
        return false;
    }
    // The socket is not handed to the programs the bridge might start.
#ifdef _WIN32
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s != INVALID_SOCKET) {
        SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
        BOOL on = TRUE;
        setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
        DWORD off = FALSE, returned = 0;
        WSAIoctl(s, SIO_UDP_CONNRESET, &off, sizeof off, nullptr, 0, &returned, nullptr, nullptr);
    }
#else
    SOCKET s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
#endif
    if (s == INVALID_SOCKET) {
        error = "socket: " + SocketErrorText(WSAGetLastError());
        return false;
    }
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int code = WSAGetLastError();
        error = PortTaken(code) ? "UDP port " + std::to_string(port) + " is in use"
                                : "cannot bind UDP port " + std::to_string(port) + ": " + SocketErrorText(code);
        closesocket(s);
        return false;
    }
    socklen_t length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    handle_ = static_cast<long long>(s);
    port_ = ntohs(address.sin_port);
    return true;
}

bool UdpSocket::SendTo(const UdpAddress& to, const void* data, std::size_t length) {
    if (handle_ < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(to.port);
    address.sin_addr.s_addr = htonl(to.ipv4);
    int sent = static_cast<int>(sendto(static_cast<SOCKET>(handle_), static_cast<const char*>(data),
                                       static_cast<int>(length), 0, reinterpret_cast<sockaddr*>(&address),
                                       sizeof address));
    return sent == static_cast<int>(length);
}

long UdpSocket::Receive(void* buffer, std::size_t size, int timeoutMs, UdpAddress* from) {
    if (handle_ < 0) return -1;
    SOCKET s = static_cast<SOCKET>(handle_);
    int ready = WaitSocketReadable(s, timeoutMs / 1000, (timeoutMs % 1000) * 1000L);
    if (ready == SOCKET_ERROR) return WSAGetLastError() == WSAEINTR ? 0 : -1;
    if (ready == 0) return 0;
    sockaddr_in address{};
    socklen_t length = sizeof address;
    int received = static_cast<int>(recvfrom(s, static_cast<char*>(buffer), static_cast<int>(size), ReceiveFlags,
                                             reinterpret_cast<sockaddr*>(&address), &length));
    if (received == SOCKET_ERROR) {
        int code = WSAGetLastError();
        if (code != WSAEMSGSIZE) return NothingReceived(code) ? 0 : -1;
        received = static_cast<int>(size);  // Winsock's word for a cut datagram
    }
    if (from) {
        from->ipv4 = ntohl(address.sin_addr.s_addr);
        from->port = ntohs(address.sin_port);
    }
    return static_cast<long>(received);
}

void UdpSocket::Close() {
    if (handle_ >= 0) closesocket(static_cast<SOCKET>(handle_));
    handle_ = -1;
    port_ = 0;
}
