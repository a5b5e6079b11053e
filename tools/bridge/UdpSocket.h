// A UDP socket for the bridge's sources and the simulator doubles: IPv4 only, one datagram
// per call, waits with a time-out. Over the sockets of the platform seam (UdpSocket.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct UdpAddress {
    std::uint32_t ipv4 = 0;  // host byte order; 0x7F000001 is 127.0.0.1
    std::uint16_t port = 0;
    bool operator==(const UdpAddress& o) const { return ipv4 == o.ipv4 && port == o.port; }
};

// The dotted text of an address ("127.0.0.1:49000").
std::string FormatAddress(const UdpAddress& address);
// A dotted IPv4 address or a host name to its IPv4 address. False with a reason otherwise.
bool ResolveIPv4(const std::string& host, std::uint32_t& ipv4, std::string& error);

class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket() { Close(); }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Binds to bindAddress (dotted IPv4; empty for every interface) and port (0: any free
    // port). False with a reason in error ("port 5510 is in use", ...).
    bool Open(const std::string& bindAddress, std::uint16_t port, std::string& error);
    bool IsOpen() const { return handle_ >= 0; }
    // The port it is bound to; 0 while closed.
    std::uint16_t LocalPort() const { return port_; }
    // Sends one datagram; false when it could not go out.
    bool SendTo(const UdpAddress& to, const void* data, std::size_t length);
    // Waits up to timeoutMs for one datagram and copies at most size bytes of it (the rest
    // of a longer one is lost). Returns its length, 0 when none came, -1 on an error.
    // A signal during the wait counts as no datagram.
    long Receive(void* buffer, std::size_t size, int timeoutMs, UdpAddress* from);
    void Close();

private:
    long long handle_ = -1;  // a descriptor, or a Windows SOCKET
    std::uint16_t port_ = 0;
};
