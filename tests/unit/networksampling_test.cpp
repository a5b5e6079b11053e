// Network sampling: the reduction of received numbers to raw fields, and whole frames of
// six requests against the stand-in's data server on loopback (linked in from its sources),
// including its misbehaviour on command.
#include "base/Runtime.h"
#include "display/InstrumentWindow.h"
#include "flightdata/FlightData.h"
#include "flightdata/NetworkSampling.h"
#include "net/KvTcpIpcUdp.h"
#include "net/ValueRequest.h"

// The stand-in's server is a tool, not part of the instrument's library.
#include "DataServer.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>

namespace {

TEST(NetworkSamplingReduction, HeadingKeepsTheLow32BitsOfTheRoundedNumber) {
    ASSERT_EQ(std::fegetround(), FE_TONEAREST);
    const std::pair<double, std::uint32_t> cases[] = {
        {0, 0},
        {1073741824, 0x40000000u},
        {4294967295.0, 0xFFFFFFFFu},
        {-1, 0xFFFFFFFFu},  // signed reading of the same field
        {4294967296.0 + 7, 7},
        {2.5, 2},  // ties to even
        {3.5, 4},
        {9223372036854774784.0, 0xFFFFFC00u},  // the largest double below 2^63
        {9223372036854775808.0, 0},           // 2^63: beyond the 64-bit range, no error
        {-9223372036854777856.0, 0},
        {HUGE_VAL, 0},
    };
    for (const auto& [number, raw] : cases) EXPECT_EQ(HeadingFromReply(number), raw) << number;
}

TEST(NetworkSamplingReduction, WordsKeepTheLow16BitsWithinThe32BitRange) {
    const std::pair<double, int> cases[] = {
        {65535, 0xFFFF}, {-1, 0xFFFF},       {12.5, 12},          {13.5, 14},        {-0.5, 0},
        {-16384, 0xC000}, {400, 400},        {65536 + 90, 90},    {2147483647.0, 0xFFFF},
        {-2147483648.0, 0}, {2147483647.4, 0xFFFF},
    };
    for (const auto& [number, raw] : cases) EXPECT_EQ(WordFromReply(number), raw) << number;
    for (double beyond : {2147483647.5, 2147483648.0, -2147483648.6, 1e300, -HUGE_VAL}) {
        try {
            WordFromReply(beyond);
            ADD_FAILURE() << "no range error for " << beyond;
        } catch (const RangeError& error) {
            EXPECT_STREQ(error.what(), "Range check error");
        }
    }
}

// Winsock would let a second listener share the port silently (SO_REUSEADDR); the second
// server must be refused there as on Linux, and the first keep its port.
TEST(DataServerPort, ASecondServerOnTheSamePortIsRefused) {
    OffsetMemory memory;
    DataServer first(memory), second(memory);
    std::string error;
    ASSERT_TRUE(first.Start("127.0.0.1", 0, error)) << error;
    std::uint16_t port = first.Port();
    EXPECT_FALSE(second.Start("127.0.0.1", port, error));
    EXPECT_EQ(error, "port " + std::to_string(port) + " is in use");
    EXPECT_FALSE(second.Start("", port, error)) << "every interface overlaps the loopback one";
    EXPECT_EQ(first.Port(), port);
    first.Stop();
    EXPECT_TRUE(second.Start("127.0.0.1", port, error)) << "free again once the first stops: " << error;
}

TEST(DataServerAnswers, RequestsAreReadByTheirSizeAndCode) {
    OffsetMemory memory;
    memory.WriteUnsigned(0x0580, 4, 0xC0000000u);
    memory.WriteUnsigned(0x02A0, 2, 0xFFFF);
    memory.WriteUnsigned(0x0100, 8, 0xFFFFFFFFFFFFFFFFull);
    DataServer server(memory);
    struct Case {
        const char* request;
        const char* reply;
        bool wellFormed;
    };
    const Case cases[] = {
        {"1408,4,5", "3221225472", true}, {"1408,4,4", "-1073741824", true}, {"672,2,4", "-1", true},
        {"672,2,5", "65535", true},       {"672,1,6", "-1", true},           {"256,8,5", "18446744073709551615", true},
        {"256,8,4", "-1", true},          {"70000,2,4", "0", true},          {"1408,3,5", "0", false},
        {"1408,4,7", "0", false},         {"-1,2,4", "0", false},            {"x,2,4", "0", false},
        {"1408,4", "0", false},           {"1408,4,5,1", "0", false},        {"99999999999,2,4", "0", false},
        {"", "0", false},
    };
    for (const Case& c : cases) {
        bool wellFormed = !c.wellFormed;
        EXPECT_EQ(server.Answer(c.request, wellFormed), c.reply) << c.request;
        EXPECT_EQ(wellFormed, c.wellFormed) << c.request;
    }
}

// An instrument client (TcpClient) and the stand-in's data server with its offset memory.
class NetworkFrameTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartSocketLibrary(); }

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server_.Start("127.0.0.1", 0, error)) << error;
        client_ = new TKvTcpBlockClient();
        TcpClient = client_;
    }
    void TearDown() override {
        TcpClient = nullptr;
        delete client_;
        server_.Stop();
    }
    void Connect() {
        client_->SetServerPort(std::to_string(server_.Port()));
        client_->SetServerAddress("127.0.0.1");
        ASSERT_TRUE(client_->Connect());
    }
    std::string Command(const std::string& text) {
        std::vector<std::string> words;
        std::size_t start = 0, space;
        while ((space = text.find(' ', start)) != std::string::npos) {
            words.push_back(text.substr(start, space - start));
            start = space + 1;
        }
        words.push_back(text.substr(start));
        std::string reply;
        EXPECT_TRUE(server_.HandleCommand(words, reply)) << text << ": " << reply;
        return reply;
    }
    // A simulator state with every field in use: signed fields negative.
    void FillOffsetMemory() {
        memory_.WriteUnsigned(0x0580, 4, 0x40000000u);  // heading 90
        memory_.WriteUnsigned(0x02A0, 2, 0xFFFF);       // variation -1
        memory_.WriteUnsigned(0x0C56, 2, 400);
        memory_.WriteUnsigned(0x0C5C, 2, 90);
        memory_.WriteUnsigned(0x0C6A, 2, 0xC000);  // -16384: -90 degrees
        memory_.WriteUnsigned(0x02D8, 2, 0x8000);  // -32768: -180 degrees
    }
    static void ExpectRaw(const RawFlightValues& raw, std::uint32_t heading, int variation, int vor1, int vor2,
                          int adf1, int adf2) {
        EXPECT_EQ(raw.trueHeading, heading);
        EXPECT_EQ(raw.magneticVariation, variation);
        EXPECT_EQ(raw.vor1Bearing, vor1);
        EXPECT_EQ(raw.vor2Bearing, vor2);
        EXPECT_EQ(raw.adf1Bearing, adf1);
        EXPECT_EQ(raw.adf2Bearing, adf2);
    }

    OffsetMemory memory_;
    DataServer server_{memory_};
    TKvTcpBlockClient* client_ = nullptr;
};

TEST_F(NetworkFrameTest, NotConnectedGivesZeroWithoutAsking) {
    FillOffsetMemory();
    RawFlightValues raw = SampleNetworkValues();
    ExpectRaw(raw, 0, 0, 0, 0, 0, 0);
    InstrumentAngles angles = ConvertFlightValues(raw, true, false);
    EXPECT_EQ(angles.card, 0.0f);
    EXPECT_EQ(angles.needle1, 0.0f);
    EXPECT_EQ(angles.needle2, 0.0f);
    EXPECT_EQ(server_.RequestsServed(), 0u);
}

TEST_F(NetworkFrameTest, FrameGivesTheSameRawValuesAsTheSimulatorHolds) {
    memory_.WriteUnsigned(0x0580, 4, 1073741824u);
    Connect();
    RawFlightValues raw = SampleNetworkValues();
    EXPECT_EQ(ConvertFlightValues(raw, true, true).card, 90.0f);

    FillOffsetMemory();
    raw = SampleNetworkValues();
    ExpectRaw(raw, 0x40000000u, -1, 400, 90, -16384, -32768);
    InstrumentAngles angles = ConvertFlightValues(raw, true, false);
    EXPECT_EQ(angles.card, static_cast<float>(90.0 + 360.0 / 65536));
    EXPECT_EQ(angles.needle1, 400.0f);
    EXPECT_EQ(angles.needle2, -180.0f);
    EXPECT_EQ(server_.RequestsServed(), 12u);
}

TEST_F(NetworkFrameTest, ServerMisbehaviour) {
    FillOffsetMemory();
    Connect();
    // Late replies are waited for.
    Command("net delay 300");
    ExpectRaw(SampleNetworkValues(), 0x40000000u, -1, 400, 90, -16384, -32768);

    // A closed connection: that frame reads zero from there on; the next connection works.
    Command("net normal");
    Command("net close");
    ExpectRaw(SampleNetworkValues(), 0, 0, 0, 0, 0, 0);
    EXPECT_FALSE(client_->Connected());
    Connect();
    ExpectRaw(SampleNetworkValues(), 0x40000000u, -1, 400, 90, -16384, -32768);

    // A reply that is no number ends the frame with the conversion error.
    Command("net garbage");
    try {
        SampleNetworkValues();
        ADD_FAILURE() << "no conversion error";
    } catch (const ConversionError& error) {
        EXPECT_STREQ(error.what(), "'garbage' is not a valid floating point value");
    }
}

// The stand-in's replies in pieces, as TCP may deliver any server's: every frame still
// reads the simulator's values, frame after frame, with no reply taken for another.
TEST_F(NetworkFrameTest, RepliesInPiecesGiveTheSameValues) {
    FillOffsetMemory();
    Connect();
    for (const char* command : {"net split 30", "net bytes 2", "net zeroapart 30", "net nozero", "net normal"}) {
        SCOPED_TRACE(command);
        Command(command);
        for (int frame = 0; frame < 2; ++frame) {
            try {
                ExpectRaw(SampleNetworkValues(), 0x40000000u, -1, 400, 90, -16384, -32768);
            } catch (const RuntimeError& error) {
                ADD_FAILURE() << error.what();
            }
        }
        EXPECT_TRUE(client_->Connected());
    }
    EXPECT_EQ(Command("net stats"),
              "requests 60 malformed 0 connections 1 accepted 1 port " + std::to_string(server_.Port()));
}

TEST_F(NetworkFrameTest, StatisticsCountEveryReplyAtOnce) {
    Connect();
    RequestValue(1408, "4", "5");
    RequestValue(1408, "4", "9");
    EXPECT_EQ(Command("net stats"),
              "requests 2 malformed 1 connections 1 accepted 1 port " + std::to_string(server_.Port()));
}

}  // namespace
