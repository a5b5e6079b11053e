// Value requests against a real loopback server the test plays: the bytes of requests, the
// reading of replies, replies that come in pieces, a server that hangs up, dawdles, floods or
// stays silent, and a request that cannot be sent. Replies are mostly queued before the
// request, so no server thread is needed; replies in pieces are sent by one.
#include "base/Runtime.h"
#include "display/InstrumentWindow.h"
#include "net/KvTcpIpcUdp.h"
#include "net/ValueRequest.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <functional>
#include <cstdlib>
#include <langinfo.h>
#include <locale.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadBytes(int fd, std::size_t count, int timeoutMs = 5000) {
    std::string bytes;
    char buffer[256];
    while (bytes.size() < count) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, timeoutMs) != 1) break;
        ssize_t n = recv(fd, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
        if (n <= 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

// Reads one request, up to and with its zero byte.
std::string ReadRequest(int fd) {
    std::string request;
    for (;;) {
        std::string byte = ReadBytes(fd, 1);
        if (byte.empty()) return request;
        request += byte;
        if (byte[0] == '\0') return request;
    }
}

// Sends each piece as a segment of its own (the peer has TCP_NODELAY), gapMs apart.
bool SendPieces(int fd, const std::vector<std::string>& pieces, int gapMs) {
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
        const std::string& piece = pieces[i];
        std::size_t sent = 0;
        while (sent < piece.size()) {
            ssize_t n = send(fd, piece.data() + sent, piece.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<std::size_t>(n);
        }
    }
    return true;
}

std::string Hex(const std::string& bytes) {
    std::string text;
    char part[4];
    for (unsigned char c : bytes) {
        std::snprintf(part, sizeof part, text.empty() ? "%02X" : " %02X", c);
        text += part;
    }
    return text;
}

// The instrument's client connected to a listening socket of the test; TcpClient points to it.
class ValueRequestTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartSocketLibrary(); }

    void SetUp() override {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(listen(listener_, 4), 0);
        socklen_t length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = std::to_string(ntohs(address.sin_port));
        client_ = new TKvTcpBlockClient();
        client_->onDisconnect = [this](TKvBlockSocket*) { ++disconnects_; };
        TcpClient = client_;
    }

    void TearDown() override {
        TcpClient = nullptr;
        delete client_;
        if (peer_ >= 0) close(peer_);
        close(listener_);
    }

    void ConnectClient() {
        client_->SetServerPort(port_);
        client_->SetServerAddress("127.0.0.1");
        ASSERT_TRUE(client_->Connect());
        peer_ = accept(listener_, nullptr, nullptr);
        ASSERT_GE(peer_, 0);
        int on = 1;
        setsockopt(peer_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }

    // Asks for a value while a server thread answers; a conversion error is a test failure
    // (the thread must be joined whatever happens).
    double RequestWhileServing(std::int32_t offset, const std::function<void()>& serve) {
        std::thread server(serve);
        double value = -12345;
        try {
            value = RequestValue(offset, "2", "6");
        } catch (const ConversionError& error) {
            ADD_FAILURE() << "conversion error: " << error.what();
        }
        server.join();
        return value;
    }

    // Queues a reply and waits until all of it waits at the client.
    void QueueReply(const std::string& bytes) {
        ASSERT_EQ(send(peer_, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
        SOCKET handle = client_->Socket()->GetHandle();
        for (int i = 0; i < 500; ++i) {
            u_long waiting = 0;
            ioctlsocket(handle, FIONREAD, &waiting);
            if (waiting >= bytes.size()) return;
            poll(nullptr, 0, 1);
        }
        FAIL() << "the reply did not arrive";
    }

    int listener_ = -1;
    int peer_ = -1;
    std::string port_;
    TKvTcpBlockClient* client_ = nullptr;
    int disconnects_ = 0;
};

TEST_F(ValueRequestTest, NothingIsSentWithoutConnection) {
    TcpClient = nullptr;
    EXPECT_EQ(RequestValue(1408, "4", "5"), 0.0);
    TcpClient = client_;
    EXPECT_EQ(RequestValue(1408, "4", "5"), 0.0);
    pollfd entry{listener_, POLLIN, 0};
    EXPECT_EQ(poll(&entry, 1, 100), 0) << "a connection was made";
}

TEST_F(ValueRequestTest, RequestBytes) {
    struct Case {
        std::int32_t offset;
        const char* size;
        const char* code;
        const char* bytes;
    };
    const Case cases[] = {
        {1408, "4", "5", "31 34 30 38 2C 34 2C 35 00"}, {672, "2", "4", "36 37 32 2C 32 2C 34 00"},
        {3158, "2", "6", "33 31 35 38 2C 32 2C 36 00"}, {3164, "2", "6", "33 31 36 34 2C 32 2C 36 00"},
        {3178, "2", "6", "33 31 37 38 2C 32 2C 36 00"}, {728, "2", "6", "37 32 38 2C 32 2C 36 00"},
        {-5, "2", "6", "2D 35 2C 32 2C 36 00"},         {0, "", " x", "30 2C 2C 20 78 00"},
    };
    ConnectClient();
    for (const Case& c : cases) {
        QueueReply(std::string("7\0", 2));
        EXPECT_EQ(RequestValue(c.offset, c.size, c.code), 7.0);
        EXPECT_EQ(Hex(ReadRequest(peer_)), c.bytes);
    }
}

TEST_F(ValueRequestTest, ReplyTexts) {
    const bool point = DecimalSeparator() == '.';
    struct Case {
        std::string reply;
        double value;
        const char* error;  // the text in the conversion error, or nullptr
    };
    const Case cases[] = {
        {std::string("359\0", 4), 359, nullptr},
        {"359", 359, nullptr},
        {std::string("  359  \0", 8), 359, nullptr},
        {std::string("-1\0", 3), -1, nullptr},
        {std::string("42\0xyz\0", 7), 42, nullptr},  // bytes after the zero are dropped
        {std::string("+1.5E2\0", 7), point ? 150.0 : 0.0, point ? nullptr : "+1.5E2"},
        {std::string("12,5\0", 5), point ? 0.0 : 12.5, point ? "12,5" : nullptr},
        {std::string("\0", 1), 0, ""},
        {std::string("1 2\0", 4), 0, "1 2"},
        {std::string("0x10\0", 5), 0, "0x10"},
    };
    ConnectClient();
    for (const Case& c : cases) {
        SCOPED_TRACE(Hex(c.reply));
        QueueReply(c.reply);
        if (c.error) {
            try {
                RequestValue(1408, "4", "5");
                ADD_FAILURE() << "no conversion error";
            } catch (const ConversionError& error) {
                EXPECT_EQ(error.what(), "'" + std::string(c.error) + "' is not a valid floating point value");
            }
        } else {
            EXPECT_EQ(RequestValue(1408, "4", "5"), c.value);
        }
        ReadRequest(peer_);
    }
}

// Run by DecimalCommaFromTheUserSettings in a child whose user settings name a decimal comma.
TEST_F(ValueRequestTest, DISABLED_RepliesUnderACommaLocale) {
    ASSERT_EQ(DecimalSeparator(), ',');
    ConnectClient();
    QueueReply(std::string("12,5\0", 5));
    EXPECT_EQ(RequestValue(3178, "2", "6"), 12.5);
    ReadRequest(peer_);
    QueueReply(std::string("12.5\0", 5));
    EXPECT_THROW(RequestValue(3178, "2", "6"), ConversionError);
}

TEST(ValueRequestLocale, DecimalCommaFromTheUserSettings) {
    const char* candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8",
                                "es_ES.UTF-8", "it_IT.UTF-8", "ru_RU.UTF-8", "de_DE", "fr_FR"};
    const char* found = nullptr;
    for (const char* name : candidates) {
        locale_t probe = newlocale(LC_NUMERIC_MASK, name, nullptr);
        if (!probe) continue;
        bool comma = std::string(nl_langinfo_l(RADIXCHAR, probe)) == ",";
        freelocale(probe);
        if (comma) {
            found = name;
            break;
        }
    }
    // None installed: build one from the system's locale sources into a private folder.
    testsupport::TempDir folder;
    std::string environment;
    if (found) {
        environment = std::string("LC_ALL=") + found;
    } else {
        std::string build = "localedef -i de_DE -f UTF-8 '" + folder.File("de_DE.UTF-8") + "' > /dev/null 2>&1";
        if (std::system(build.c_str()) != 0)
            GTEST_SKIP() << "no locale with a decimal comma is installed (tried de_DE.UTF-8, fr_FR.UTF-8, ...) "
                            "and localedef cannot build de_DE.UTF-8; install the locales package to run this test";
        environment = "LOCPATH='" + folder.Path() + "' LC_ALL=de_DE.UTF-8";
    }
    // The separator is read once per process, so the check runs in a fresh one.
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    std::string command = environment + " '" + self +
                          "' --gtest_also_run_disabled_tests "
                          "--gtest_filter=ValueRequestTest.DISABLED_RepliesUnderACommaLocale > /dev/null 2>&1";
    int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "under " << environment;
}

TEST_F(ValueRequestTest, ServerClosingInsteadOfAnsweringGivesZero) {
    ConnectClient();
    close(peer_);
    peer_ = -1;
    EXPECT_EQ(RequestValue(1408, "4", "5"), 0.0);
    EXPECT_FALSE(client_->Connected());
    EXPECT_EQ(disconnects_, 1);
    EXPECT_EQ(RequestValue(672, "2", "4"), 0.0);
    EXPECT_EQ(disconnects_, 1);
}

TEST_F(ValueRequestTest, UnsentRequestIsNotWaitedFor) {
    ConnectClient();
    // A reply waits already: a client that waited after failing to send would take it.
    QueueReply(std::string("7\0", 2));
    int small = 4096;
    setsockopt(peer_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    setsockopt(client_->Socket()->GetHandle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    // The server reads nothing, so the client's buffers fill until it cannot write in time.
    const std::string chunk(512, 'x');
    bool sent = true;
    for (int i = 0; i < 200000 && sent; ++i) sent = client_->SendBuf(chunk.data(), 512);
    ASSERT_FALSE(sent);
    ASSERT_TRUE(client_->Connected());
    EXPECT_EQ(RequestValue(1408, "4", "5"), 0.0);
    EXPECT_FALSE(client_->Connected());
    EXPECT_EQ(disconnects_, 1);
}

TEST_F(ValueRequestTest, LateReplyWithinTheLimitIsTaken) {
    ConnectClient();
    std::thread server([this] {
        ReadRequest(peer_);
        std::this_thread::sleep_for(std::chrono::seconds(12));
        send(peer_, "123\0", 4, 0);
    });
    auto start = Clock::now();
    EXPECT_EQ(RequestValue(1408, "4", "5"), 123.0);
    EXPECT_GE(Clock::now() - start, std::chrono::seconds(12));
    EXPECT_TRUE(client_->Connected());
    server.join();
}

TEST_F(ValueRequestTest, SilentServerIsGivenUpAfterFifteenSeconds) {
    ConnectClient();
    auto start = Clock::now();
    EXPECT_EQ(RequestValue(1408, "4", "5"), 0.0);
    auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::seconds(15));
    EXPECT_LT(waited, std::chrono::seconds(20));
    EXPECT_FALSE(client_->Connected());
    EXPECT_EQ(disconnects_, 1);
    // The server sees the request, then the end of the connection.
    EXPECT_EQ(ReadRequest(peer_), std::string("1408,4,5\0", 9));
    EXPECT_EQ(ReadBytes(peer_, 1), "");
}

// A reply is gathered up to its zero byte whatever pieces TCP cuts it into; the next request
// then gets its own reply. Without the gathering, the rest of a reply was taken as the next
// one, and a zero byte arriving alone ended the program with "'' is not a valid ...".
TEST_F(ValueRequestTest, ReplyInPiecesIsGatheredUpToItsZeroByte) {
    struct Case {
        const char* what;
        std::vector<std::string> pieces;
        int gapMs;
        double value;
    };
    const std::string zero(1, '\0');
    const Case cases[] = {
        {"two pieces", {"12", "3" + zero}, 50, 123},
        {"one byte at a time", {"3", "5", "9", zero}, 20, 359},
        {"zero byte alone", {"-42", zero}, 50, -42},
        {"zero byte alone at once", {"42", zero}, 0, 42},
        {"bytes after the zero in the last piece", {"4", "2" + zero + "99"}, 50, 42},
        {"no zero byte: taken once nothing more comes", {"123"}, 0, 123},
        {"no zero byte, two pieces", {"1", "23"}, 50, 123},
        {"no zero byte, blanks trailing", {"77", "  "}, 50, 77},
    };
    ConnectClient();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(RequestWhileServing(3158, [&] {
                      ReadRequest(peer_);
                      SendPieces(peer_, c.pieces, c.gapMs);
                  }),
                  c.value);
        // The next request is answered by its own reply, not by a leftover.
        EXPECT_EQ(RequestWhileServing(3164, [&] {
                      ReadRequest(peer_);
                      SendPieces(peer_, {"7" + zero}, 0);
                  }),
                  7.0);
        ASSERT_TRUE(client_->Connected());
    }
    EXPECT_EQ(disconnects_, 0);
}

// A reply the server cuts short by closing is no reply: 0, as for any broken connection,
// and the connection is closed so that the main loop connects again.
TEST_F(ValueRequestTest, ReplyCutOffByTheServerClosingGivesZero) {
    struct Case {
        const char* what;
        std::vector<std::string> pieces;
        int gapMs;
        int closeAfterMs;
    };
    const Case cases[] = {
        {"closed with the text", {"12"}, 0, 0},
        {"closed while the text settles", {"12"}, 0, 50},
        {"closed after two pieces", {"1", "2"}, 20, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ConnectClient();
        int before = disconnects_;
        EXPECT_EQ(RequestWhileServing(3158, [&] {
                      ReadRequest(peer_);
                      SendPieces(peer_, c.pieces, c.gapMs);
                      std::this_thread::sleep_for(std::chrono::milliseconds(c.closeAfterMs));
                      close(peer_);
                  }),
                  0.0);
        peer_ = -1;
        EXPECT_FALSE(client_->Connected());
        EXPECT_EQ(disconnects_, before + 1);
    }
}

// Long replies: gathered up to MaxReplyLength (the error then quotes only the start of the
// text); one byte more and the connection is given up instead of growing without bound.
TEST_F(ValueRequestTest, LongRepliesAreBoundedAndQuotedShort) {
    const std::string zero(1, '\0');
    ConnectClient();

    // Blanks around a number are allowed, so the longest reply can still be a number.
    std::string blanks(MaxReplyLength - 1, ' ');
    EXPECT_EQ(RequestWhileServing(3158, [&] {
                  ReadRequest(peer_);
                  SendPieces(peer_, {blanks + "7" + zero}, 0);
              }),
              7.0);

    // The longest reply that is no number: the message quotes its start and gives its length.
    std::string nonsense(MaxReplyLength, 'x');
    std::thread server([&] {
        ReadRequest(peer_);
        SendPieces(peer_, {nonsense + zero}, 0);
    });
    std::string message;
    try {
        RequestValue(3158, "2", "6");
    } catch (const ConversionError& error) {
        message = error.what();
    }
    server.join();
    EXPECT_EQ(message, "'" + std::string(64, 'x') + "... (1048576 bytes)' is not a valid floating point value")
        << message.size() << " characters";

    // One byte too many: given up, whether or not a zero byte would have followed.
    ASSERT_TRUE(client_->Connected());
    std::string tooLong(MaxReplyLength + 1, '1');
    EXPECT_EQ(RequestWhileServing(3158, [&] {
                  ReadRequest(peer_);
                  SendPieces(peer_, {tooLong, zero}, 0);
              }),
              0.0);
    EXPECT_FALSE(client_->Connected());
    EXPECT_EQ(disconnects_, 1);
}

// A server that keeps trickling bytes without ever ending the reply is given up after the
// same fifteen seconds as a silent one.
TEST_F(ValueRequestTest, EndlessTrickleIsGivenUpAfterFifteenSeconds) {
    ConnectClient();
    auto start = Clock::now();
    EXPECT_EQ(RequestWhileServing(3158, [&] {
                  ReadRequest(peer_);
                  // Faster than the settle time, so the reply never counts as complete.
                  while (Clock::now() - start < std::chrono::seconds(20) &&
                         SendPieces(peer_, {"1"}, 0))
                      std::this_thread::sleep_for(std::chrono::milliseconds(ReplySettleMilliseconds / 3));
              }),
              0.0);
    auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::seconds(15));
    EXPECT_LT(waited, std::chrono::seconds(20));
    EXPECT_FALSE(client_->Connected());
    EXPECT_EQ(disconnects_, 1);
}

}  // namespace
