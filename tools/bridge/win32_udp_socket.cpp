// The bridge's UDP socket on Winsock (Windows). Waits with select; a datagram longer than
// the caller's buffer is cut (Winsock reports WSAEMSGSIZE for it, which counts as received).
// Bound with SO_EXCLUSIVEADDRUSE, so that a second bridge on the same port fails as on Linux
// instead of sharing the port with the first.
#include "UdpSocket.h"

#include "platform/Sockets.h"

#include <cstdio>
#include <ws2tcpip.h>
#include <mswsock.h>

namespace {

// Winsock needs starting once per process; the bridge never stops it.
bool StartWinsock(std::string& error) {
    static int result = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (result != 0) error = "the socket library does not start (error " + std::to_string(result) + ")";
    return result == 0;
}

std::string ErrorText(int code) {
    return "error " + std::to_string(code);
}

// Dotted IPv4 text to an address in network byte order; inet_pton is missing before Vista.
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

}  // namespace

std::string FormatAddress(const UdpAddress& address) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", static_cast<unsigned>(address.ipv4 >> 24),
                  static_cast<unsigned>((address.ipv4 >> 16) & 0xFF), static_cast<unsigned>((address.ipv4 >> 8) & 0xFF),
                  static_cast<unsigned>(address.ipv4 & 0xFF), static_cast<unsigned>(address.port));
    return text;
}

bool ResolveIPv4(const std::string& host, std::uint32_t& ipv4, std::string& error) {
    if (!StartWinsock(error)) return false;
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
        error = "cannot resolve " + host + " (" + ErrorText(rc) + ")";
        return false;
    }
    ipv4 = ntohl(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return true;
}

bool UdpSocket::Open(const std::string& bindAddress, std::uint16_t port, std::string& error) {
    Close();
    if (!StartWinsock(error)) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!bindAddress.empty() && !ParseDotted(bindAddress, address.sin_addr)) {
        error = "not an IPv4 address: " + bindAddress;
        return false;
    }
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        error = "socket: " + ErrorText(WSAGetLastError());
        return false;
    }
    // The socket is not handed to the programs the bridge might start.
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    // Without this, an ICMP "port unreachable" for an earlier send (X-Plane not started yet)
    // would end every later receive with WSAECONNRESET.
    DWORD off = FALSE, returned = 0;
    WSAIoctl(s, SIO_UDP_CONNRESET, &off, sizeof off, nullptr, 0, &returned, nullptr, nullptr);
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int code = WSAGetLastError();
        error = code == WSAEADDRINUSE || code == WSAEACCES
                    ? "UDP port " + std::to_string(port) + " is in use"
                    : "cannot bind UDP port " + std::to_string(port) + ": " + ErrorText(code);
        closesocket(s);
        return false;
    }
    int length = sizeof address;
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
    int sent = sendto(static_cast<SOCKET>(handle_), static_cast<const char*>(data), static_cast<int>(length), 0,
                      reinterpret_cast<sockaddr*>(&address), sizeof address);
    return sent == static_cast<int>(length);
}

long UdpSocket::Receive(void* buffer, std::size_t size, int timeoutMs, UdpAddress* from) {
    if (handle_ < 0) return -1;
    SOCKET s = static_cast<SOCKET>(handle_);
    int ready = WaitSocketReadable(s, timeoutMs / 1000, (timeoutMs % 1000) * 1000L);
    if (ready == SOCKET_ERROR) return -1;
    if (ready == 0) return 0;
    sockaddr_in address{};
    int length = sizeof address;
    int received = recvfrom(s, static_cast<char*>(buffer), static_cast<int>(size), 0,
                            reinterpret_cast<sockaddr*>(&address), &length);
    if (received == SOCKET_ERROR) {
        int code = WSAGetLastError();
        if (code == WSAEMSGSIZE) {
            received = static_cast<int>(size);  // cut, as recvfrom does on Linux
        } else {
            return code == WSAEWOULDBLOCK || code == WSAEINTR || code == WSAECONNRESET ? 0 : -1;
        }
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
