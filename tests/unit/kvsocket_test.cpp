// The blocking socket and the TCP client against real loopback servers on port 0: address
// and port texts, connecting and refusals, the bytes sent, receiving, disconnect events,
// error numbers and texts, handle release, SIGPIPE, descriptors beyond FD_SETSIZE.
#include "base/Runtime.h"
#include "net/KvTcpIpcUdp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>

namespace {

class SocketTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartSocketLibrary(); }
};

// A listening loopback socket on a free port; Accept hands out the next connection.
class LoopbackServer {
public:
    explicit LoopbackServer(bool listening = true) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        if (listening) listen(fd_, 16);
        socklen_t length = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~LoopbackServer() { close(fd_); }
    std::string PortText() const { return std::to_string(port_); }
    int Accept() {
        pollfd entry{fd_, POLLIN, 0};
        if (poll(&entry, 1, 5000) != 1) return -1;
        return accept(fd_, nullptr, nullptr);
    }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// Reads exactly count bytes (or less if the peer closes or 5 s pass).
std::string ReadBytes(int fd, std::size_t count) {
    std::string bytes;
    char buffer[256];
    while (bytes.size() < count) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 5000) != 1) break;
        ssize_t n = recv(fd, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
        if (n <= 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

std::size_t OpenDescriptors() {
    std::size_t count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    closedir(dir);
    return count;
}

// A socket object held by a counted reference, as the client holds its own.
struct HeldSocket {
    TKvBlockSocket* object = new TKvBlockSocket();
    TKvSocketRef ref{object};
};

template <typename Error, typename Action>
std::string MessageOf(Action action) {
    try {
        action();
    } catch (const Error& error) {
        return error.what();
    }
    return "(nothing raised)";
}

TEST_F(SocketTest, PortTextsAreTrimmedNumbersOrServiceNames) {
    struct Case {
        const char* text;
        const char* portText;  // nullptr: raises `error`
        unsigned port;
        const char* error;
    };
    const Case cases[] = {
        {"  8080  ", "8080", 8080, nullptr},
        {"\t80\r\n", "80", 80, nullptr},
        {"70000", "70000", 4464, nullptr},  // low 16 bits
        {"http", "80", 80, nullptr},
        {"   ", "1234", 1234, nullptr},  // blank: nothing changes
        {"", "1234", 1234, nullptr},
        {"nosuchservice", nullptr, 0, "Invalid port: nosuchservice"},
        {"99999999999", nullptr, 0, "'99999999999' is not a valid integer value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        HeldSocket socket;
        socket.object->SetPort("1234");
        if (c.portText) {
            socket.object->SetPort(c.text);
            EXPECT_EQ(socket.object->GetPort(), c.portText);
            EXPECT_EQ(ntohs(socket.object->AddressRecord().sin_port), c.port);
        } else {
            EXPECT_EQ(MessageOf<RuntimeError>([&] { socket.object->SetPort(c.text); }), c.error);
        }
    }
}

TEST_F(SocketTest, AddressTextsAreDottedAddressesOrHostNames) {
    struct Case {
        const char* text;
        const char* addressText;  // nullptr: raises "Invalid address: " + trimmed text
        const char* trimmed;
    };
    const Case cases[] = {
        {"10.0.0.5", "10.0.0.5", nullptr},
        {" 127.0.0.1\t", "127.0.0.1", nullptr},
        {"localhost", "127.0.0.1", nullptr},
        {"  ", "192.168.1.1", nullptr},  // blank: nothing changes
        {"1234", nullptr, "1234"},        // a bare number is no address
        {" 3232235777 ", nullptr, "3232235777"},
        {"no.such.host.invalid", nullptr, "no.such.host.invalid"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        HeldSocket socket;
        socket.object->SetAddress("192.168.1.1");
        if (c.addressText) {
            socket.object->SetAddress(c.text);
            EXPECT_EQ(socket.object->GetAddress(), c.addressText);
            EXPECT_EQ(std::string(inet_ntoa(socket.object->AddressRecord().sin_addr)), c.addressText);
            EXPECT_EQ(socket.object->AddressRecord().sin_family, AF_INET);
        } else {
            EXPECT_EQ(MessageOf<RuntimeError>([&] { socket.object->SetAddress(c.text); }),
                      std::string("Invalid address: ") + c.trimmed);
        }
    }
}

TEST_F(SocketTest, MisuseWithoutConnectionRaises) {
    TKvTcpBlockClient client;
    EXPECT_EQ(MessageOf<RuntimeError>([&] { client.Connect(); }), "Server-address not set.");
    client.SetServerAddress("127.0.0.1");
    EXPECT_EQ(MessageOf<RuntimeError>([&] { client.Connect(); }), "Server-port not set");
    EXPECT_EQ(MessageOf<RuntimeError>([&] { client.SendText("x"); }), "No connection established");
    std::int32_t size = 0;
    EXPECT_EQ(MessageOf<RuntimeError>([&] { client.Socket()->ReceiveBuf(size); }), "No connection established");
}

TEST_F(SocketTest, RefusedConnectionLeavesMarkersAndTheErrorText) {
    LoopbackServer closedPort(false);  // bound, never listening: connections are refused
    TKvTcpBlockClient client;
    int disconnects = 0;
    client.onDisconnect = [&](TKvBlockSocket*) { ++disconnects; };
    client.SetServerPort(closedPort.PortText());
    client.SetServerAddress("127.0.0.1");
    EXPECT_FALSE(client.Connect());
    EXPECT_EQ(WSAGetLastError(), 10061);
    EXPECT_EQ(client.Socket()->GetErrorText(), "Connection refused");
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(client.GetServerPort(), "<unset>");
    EXPECT_EQ(client.GetServerAddress(), "<unknown>");
    EXPECT_EQ(disconnects, 0);
    EXPECT_EQ(MessageOf<RuntimeError>([&] { client.Connect(); }), "Server-address not set.");
}

TEST_F(SocketTest, ConnectionLifecycleAndEvents) {
    LoopbackServer server;
    TKvTcpBlockClient client;
    std::vector<TKvBlockSocket*> disconnected;
    client.onDisconnect = [&](TKvBlockSocket* socket) { disconnected.push_back(socket); };
    client.SetServerPort(server.PortText());
    client.SetServerAddress("localhost");
    ASSERT_TRUE(client.Connect());
    int peer = server.Accept();
    ASSERT_GE(peer, 0);
    SOCKET handle = client.Socket()->GetHandle();
    EXPECT_TRUE(client.Connect());  // connected: no new socket
    EXPECT_EQ(client.Socket()->GetHandle(), handle);
    EXPECT_EQ(client.GetServerAddress(), "127.0.0.1");
    EXPECT_EQ(client.GetServerPort(), server.PortText());

    // The exact bytes of texts: each with one zero byte.
    ASSERT_TRUE(client.SendText("abc"));
    ASSERT_TRUE(client.SendText(""));
    EXPECT_EQ(ReadBytes(peer, 5), std::string("abc\0\0", 5));

    // Nothing to receive within a second.
    const char* data = "stale";
    std::int32_t size = 99;
    EXPECT_FALSE(client.Receive(data, size, 1));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0);

    // Everything waiting is read at once.
    ASSERT_EQ(send(peer, "359\0xy", 6, 0), 6);
    ASSERT_EQ(WaitSocketReadable(handle, 2, 0), 1);
    ASSERT_TRUE(client.Receive(data, size, 1));
    EXPECT_EQ(std::string(data, static_cast<std::size_t>(size)), std::string("359\0xy", 6));

    // A new address leaves the connection alone; a new port ends it, with the event once.
    client.SetServerAddress("127.0.0.1");
    EXPECT_TRUE(client.Connected());
    EXPECT_TRUE(disconnected.empty());
    client.SetServerPort(server.PortText());
    EXPECT_FALSE(client.Connected());
    ASSERT_EQ(disconnected.size(), 1u);
    EXPECT_EQ(static_cast<TKvSocketInterface*>(disconnected[0]), client.Socket());
    EXPECT_EQ(ReadBytes(peer, 1), "");  // the server sees the end of the stream
    close(peer);

    // Without a socket, Receive does not wait and Close/Disconnect fire nothing.
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.Receive(data, size, 5));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    client.Socket()->Close();
    client.Socket()->Disconnect();
    EXPECT_EQ(disconnected.size(), 1u);
}

TEST_F(SocketTest, ErrorNumbersAndTexts) {
    const std::pair<int, const char*> texts[] = {
        {0, "No Error"},           {10061, "Connection refused"}, {10054, "Connection reset by peer"},
        {11001, "Host not found"}, {11004, ""},                   {10072, "Not a WinSock error"},
        {10000, "Not a WinSock error"},
    };
    for (const auto& [code, text] : texts) {
        WSASetLastError(code);
        EXPECT_EQ(SocketErrorText(WSAGetLastError()), text) << code;
    }
    // Real failures give the Windows numbers, not the platform's own.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    EXPECT_EQ(send(pipeEnds[1], "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), 10038);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    EXPECT_EQ(gethostbyname("no.such.host.invalid"), nullptr);
    EXPECT_EQ(WSAGetLastError(), 11001);
}

TEST_F(SocketTest, RefusedAttemptsHandEveryHandleBack) {
    LoopbackServer closedPort(false);
    TKvTcpBlockClient client;
    const std::size_t before = OpenDescriptors();
    for (int attempt = 0; attempt < 10000; ++attempt) {
        client.SetServerPort(closedPort.PortText());
        client.SetServerAddress("127.0.0.1");
        ASSERT_FALSE(client.Connect()) << attempt;
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(SocketTest, ResetPeerFailsTheSendWithoutEndingTheProcess) {
    // The program's own start of the socket library must take care of SIGPIPE.
    std::signal(SIGPIPE, SIG_DFL);
    StartSocketLibrary();
    // A peer that resets at once, and one that closes and resets what arrives afterwards
    // (the send after that reset is the one that raises SIGPIPE on posix).
    for (bool resetAtOnce : {true, false}) {
        SCOPED_TRACE(resetAtOnce ? "reset" : "close, then reset");
        LoopbackServer server;
        TKvTcpBlockClient client;
        int disconnects = 0;
        client.onDisconnect = [&](TKvBlockSocket*) { ++disconnects; };
        client.SetServerPort(server.PortText());
        client.SetServerAddress("127.0.0.1");
        ASSERT_TRUE(client.Connect());
        int peer = server.Accept();
        linger hard{1, 0};
        if (resetAtOnce) setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        close(peer);
        bool sent = true;
        for (int i = 0; i < 100 && sent; ++i) {
            sent = client.SendText("1408,4,5");
            if (sent) poll(nullptr, 0, 10);
        }
        EXPECT_FALSE(sent);
        EXPECT_FALSE(client.Connected());
        EXPECT_EQ(disconnects, 1);
    }
}

TEST_F(SocketTest, WaitsWorkForDescriptorsBeyondTheSelectLimit) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const rlim_t wanted = FD_SETSIZE + 100;
    if (limit.rlim_cur < wanted) {
        if (limit.rlim_max < wanted) GTEST_SKIP() << "the descriptor limit is below " << wanted;
        limit.rlim_cur = wanted;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    LoopbackServer server;
    int low = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    int high = fcntl(low, F_DUPFD, FD_SETSIZE + 50);
    close(low);
    ASSERT_GE(high, FD_SETSIZE);
    HeldSocket socket;
    socket.object->SetPort(server.PortText());
    socket.object->SetAddress("127.0.0.1");
    socket.object->SetHandle(high);
    ASSERT_EQ(socket.object->Connect(), 0);
    int peer = server.Accept();
    EXPECT_FALSE(socket.object->WaitForData(0));
    ASSERT_EQ(send(peer, "42", 2, 0), 2);
    EXPECT_TRUE(socket.object->WaitForData(2));
    std::int32_t size = 0;
    const char* data = socket.object->ReceiveBuf(size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::string(data, static_cast<std::size_t>(size)), "42");
    EXPECT_TRUE(socket.object->SendBuf("ok", 2));
    EXPECT_EQ(ReadBytes(peer, 2), "ok");
    close(peer);
}

}  // namespace
