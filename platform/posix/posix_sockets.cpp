// posix backend: the Windows Sockets extras on top of the native BSD calls. Error numbers
// are translated by name (Linux errno values differ from the classic BSD ones the Windows
// numbers are built on). Readiness waits use ppoll, so descriptors above FD_SETSIZE work.
// SIGPIPE is ignored from WSAStartup on: a reset peer makes send fail, never the process end.
#include "platform/Sockets.h"
#include "platform/posix/posix_common.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>

namespace {

// What WSASetLastError stored last. A native call that fails later sets errno, which then
// takes precedence (WSASetLastError clears errno so that its own code shows until then).
thread_local int storedError = 0;

// Linux errno values and the Windows Sockets numbers they stand for. Where two names share a
// value on this system (EAGAIN and EWOULDBLOCK, say) the first row found answers for both.
constexpr struct {
    int error;
    int wsa;
} ErrnoTable[] = {
    {EINTR, WSAEINTR}, {EBADF, WSAEBADF}, {EACCES, WSAEACCES}, {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT}, {EINVAL, WSAEINVAL}, {EMFILE, WSAEMFILE}, {ENFILE, WSAEMFILE},
    {EWOULDBLOCK, WSAEWOULDBLOCK}, {EAGAIN, WSAEWOULDBLOCK}, {EINPROGRESS, WSAEINPROGRESS},
    {EALREADY, WSAEALREADY}, {ENOTSOCK, WSAENOTSOCK}, {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE}, {EPROTOTYPE, WSAEPROTOTYPE}, {ENOPROTOOPT, WSAENOPROTOOPT},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT}, {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP}, {ENOTSUP, WSAEOPNOTSUPP}, {EPFNOSUPPORT, WSAEPFNOSUPPORT},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT}, {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL}, {ENETDOWN, WSAENETDOWN}, {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET}, {ECONNABORTED, WSAECONNABORTED}, {ECONNRESET, WSAECONNRESET},
    {ENOBUFS, WSAENOBUFS}, {ENOMEM, WSAENOBUFS}, {EISCONN, WSAEISCONN}, {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN}, {ETOOMANYREFS, WSAETOOMANYREFS}, {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED}, {ELOOP, WSAELOOP}, {ENAMETOOLONG, WSAENAMETOOLONG},
    {EHOSTDOWN, WSAEHOSTDOWN}, {EHOSTUNREACH, WSAEHOSTUNREACH}, {ENOTEMPTY, WSAENOTEMPTY},
    {EUSERS, WSAEUSERS}, {EDQUOT, WSAEDQUOT}, {ESTALE, WSAESTALE}, {EREMOTE, WSAEREMOTE},
    // Sending after the peer reset the connection: Windows reports the reset.
    {EPIPE, WSAECONNRESET},
};

int FromErrno(int error) {
    if (error == 0) return 0;
    for (const auto& row : ErrnoTable)
        if (row.error == error) return row.wsa;
    // Anything else is no socket error; its plain number reads as "Not a WinSock error".
    return error;
}

int FromHostError(int error) {
    switch (error) {
    case HOST_NOT_FOUND: return WSAHOST_NOT_FOUND;
    case TRY_AGAIN: return WSATRY_AGAIN;
    case NO_RECOVERY: return WSANO_RECOVERY;
    case NO_DATA: return WSANO_DATA;
    default: return WSANO_RECOVERY;
    }
}

// Waits for any of the events on the socket, like select on that one socket would.
int WaitSocket(SOCKET s, short events, long seconds, long microseconds) {
    if (s < 0) {
        errno = ENOTSOCK;
        return SOCKET_ERROR;
    }
    if (seconds < 0 || microseconds < 0) {
        errno = EINVAL;
        return SOCKET_ERROR;
    }
    auto deadline = posixcommon::Clock::now() + std::chrono::seconds(seconds) + std::chrono::microseconds(microseconds);
    short revents = 0;
    int result = posixcommon::PollUntil(s, events, deadline, revents);
    if (result < 0) return SOCKET_ERROR;
    if (result > 0 && (revents & POLLNVAL)) {
        errno = ENOTSOCK;
        return SOCKET_ERROR;
    }
    return result;
}

}  // namespace

int WSAStartup(WORD versionRequested, LPWSADATA data) {
    // Versions below 1.1 do not exist; 1.1 and later are served with the 1.1 calls.
    BYTE major = static_cast<BYTE>(versionRequested & 0xFF);
    BYTE minor = static_cast<BYTE>(versionRequested >> 8);
    if (major < 1 || (major == 1 && minor < 1)) return WSAVERNOTSUPPORTED;
    if (data) {
        std::memset(data, 0, sizeof *data);
        data->wVersion = 0x0101;
        data->wHighVersion = 0x0202;
        std::strncpy(data->szDescription, "BSD sockets", WSADESCRIPTION_LEN);
        std::strncpy(data->szSystemStatus, "Running", WSASYS_STATUS_LEN);
        data->iMaxSockets = 0xFFFF;
        data->iMaxUdpDg = 0xFFFF;
    }
    // Leave a handler the embedding program installed alone; replace only the default,
    // which would end the process.
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        std::signal(SIGPIPE, SIG_IGN);
    return 0;
}

int WSAGetLastError() {
    if (errno != 0) return FromErrno(errno);
    return storedError;
}

void WSASetLastError(int code) {
    storedError = code;
    errno = 0;
}

int closesocket(SOCKET s) {
    return close(s) == 0 ? 0 : SOCKET_ERROR;
}

int ioctlsocket(SOCKET s, long command, u_long* argument) {
    if (!argument) {
        errno = EFAULT;
        return SOCKET_ERROR;
    }
    int value = static_cast<int>(*argument);
    if (ioctl(s, static_cast<unsigned long>(command), &value) != 0) return SOCKET_ERROR;
    *argument = static_cast<u_long>(value < 0 ? 0 : value);
    return 0;
}

hostent* PosixGetHostByName(const char* name) {
    hostent* host = (gethostbyname)(name);
    if (!host) WSASetLastError(FromHostError(h_errno));
    return host;
}

int WaitSocketReadable(SOCKET s, long seconds, long microseconds) {
    // select counts end of stream and errors as readable; so does this.
    return WaitSocket(s, POLLIN | POLLRDHUP, seconds, microseconds);
}

int WaitSocketWritable(SOCKET s, long seconds, long microseconds) {
    return WaitSocket(s, POLLOUT, seconds, microseconds);
}
