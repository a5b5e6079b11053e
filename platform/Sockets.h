// Sockets as the portable code sees them: the BSD calls with Windows Sockets error numbers.
// On Windows this is winsock itself; on posix the BSD calls are native and
// posix_sockets.cpp adds the Windows Sockets extras (start-up, last error, closesocket,
// ioctlsocket). Readiness waits use poll on posix, so any descriptor number works.
#pragma once

#include "platform/WinTypes.h"

#ifdef _WIN32

// winsock2.h came with WinTypes.h.
typedef int socklen_t;

// Waits up to seconds + microseconds for the socket to turn readable (data, end of stream
// or an error to collect). >0 ready, 0 time-out, SOCKET_ERROR on failure (see WSAGetLastError).
inline int WaitSocketReadable(SOCKET s, long seconds, long microseconds) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval timeout{seconds, microseconds};
    return select(0, &set, nullptr, nullptr, &timeout);
}

// Waits up to seconds + microseconds for the socket to accept more data to send.
inline int WaitSocketWritable(SOCKET s, long seconds, long microseconds) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval timeout{seconds, microseconds};
    return select(0, nullptr, &set, nullptr, &timeout);
}

#else

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

typedef int SOCKET;
#define INVALID_SOCKET (-1)
#define SOCKET_ERROR (-1)
#define SD_RECEIVE SHUT_RD
#define SD_SEND SHUT_WR
#define SD_BOTH SHUT_RDWR

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
};
typedef WSADATA* LPWSADATA;

// The Windows Sockets error numbers the program can meet.
#define WSABASEERR 10000
#define WSAEINTR 10004
#define WSAEBADF 10009
#define WSAEACCES 10013
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAEWOULDBLOCK 10035
#define WSAEINPROGRESS 10036
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAEDESTADDRREQ 10039
#define WSAEMSGSIZE 10040
#define WSAEPROTOTYPE 10041
#define WSAENOPROTOOPT 10042
#define WSAEPROTONOSUPPORT 10043
#define WSAESOCKTNOSUPPORT 10044
#define WSAEOPNOTSUPP 10045
#define WSAEPFNOSUPPORT 10046
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAENETRESET 10052
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAENOBUFS 10055
#define WSAEISCONN 10056
#define WSAENOTCONN 10057
#define WSAESHUTDOWN 10058
#define WSAETOOMANYREFS 10059
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSAELOOP 10062
#define WSAENAMETOOLONG 10063
#define WSAEHOSTDOWN 10064
#define WSAEHOSTUNREACH 10065
#define WSAENOTEMPTY 10066
#define WSAEPROCLIM 10067
#define WSAEUSERS 10068
#define WSAEDQUOT 10069
#define WSAESTALE 10070
#define WSAEREMOTE 10071
#define WSASYSNOTREADY 10091
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093
#define WSAHOST_NOT_FOUND 11001
#define WSATRY_AGAIN 11002
#define WSANO_RECOVERY 11003
#define WSANO_DATA 11004

// Starts the socket library. Here it checks the version asked for (1.1 or later), fills
// data, and sets SIGPIPE to be ignored: a Windows program is never killed by a peer that
// resets the connection, its send just fails. Returns 0 or WSAVERNOTSUPPORTED.
int WSAStartup(WORD versionRequested, LPWSADATA data);

// The calling thread's last socket error as a Windows Sockets number: the errno of the
// last failed socket call (ECONNREFUSED -> 10061, ...), a host lookup failure (11001 to
// 11004), or what WSASetLastError stored last, whichever came last.
int WSAGetLastError();
void WSASetLastError(int code);

int closesocket(SOCKET s);
// Only FIONREAD (bytes waiting to be read) is used.
int ioctlsocket(SOCKET s, long command, u_long* argument);

// Host lookup that also leaves its failure (11001 to 11004) for WSAGetLastError, as
// the Windows call does. The portable code calls it by the Windows name.
hostent* PosixGetHostByName(const char* name);
#define gethostbyname(name) PosixGetHostByName(name)

// Waits up to seconds + microseconds for the socket to turn readable (data, end of stream
// or an error to collect). >0 ready, 0 time-out, SOCKET_ERROR on failure (see WSAGetLastError).
int WaitSocketReadable(SOCKET s, long seconds, long microseconds);
// Waits up to seconds + microseconds for the socket to accept more data to send.
int WaitSocketWritable(SOCKET s, long seconds, long microseconds);

#endif
