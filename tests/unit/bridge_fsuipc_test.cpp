// korva-bridge's FSUIPC source against the stand-in's simulator end in this process: the six
// values arrive in their fields, a simulator that is not there yet or goes away is reported
// once, the last values stay, and the link is found again when the simulator comes back.
// On Linux over the local transport, on Windows through a real window of the class.
#include "FsuipcSource.h"
#include "TestSupport.h"

#include "flightdata/FPCuser.h"

#include "OffsetMemory.h"
#include "SimulatorLink.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Simulator {
    OffsetMemory memory;
    std::unique_ptr<SimulatorLink> link;
    Simulator() { WriteDefaultVersions(memory); }
    void Start() {
        link = std::make_unique<SimulatorLink>(memory);
        std::string error;
        ASSERT_TRUE(link->Start("FS98MAIN", error)) << error;
    }
    void Stop() { link.reset(); }
    // heading, variation, VOR 1, VOR 2, ADF 1, ADF 2 as the simulator stores them.
    void Set(const std::vector<std::uint32_t>& bits) {
        for (std::size_t i = 0; i < SimulatorValueCount; ++i)
            memory.WriteUnsigned(SimulatorValues[i].offset, SimulatorValues[i].size, bits[i]);
    }
};

std::vector<std::uint32_t> Fields(const RawFlightValues& raw) {
    std::vector<std::uint32_t> bits;
    for (const SimulatorValue& value : SimulatorValues) bits.push_back(FieldBits(raw, value));
    return bits;
}

std::vector<std::string> Notices(FsuipcSource& source) {
    std::vector<std::string> all;
    std::string text;
    while (source.TakeNotice(text)) all.push_back(text);
    return all;
}

// Polls for up to a few seconds until a sample comes; the notices seen on the way are kept.
bool PollUntilSample(FsuipcSource& source, RawFlightValues& raw, std::vector<std::string>& notices) {
    auto end = std::chrono::steady_clock::now() + 6s;
    while (std::chrono::steady_clock::now() < end) {
        int samples = source.Poll(100, raw);
        for (const std::string& text : Notices(source)) notices.push_back(text);
        if (samples > 0) return true;
    }
    return false;
}

bool Mentions(const std::vector<std::string>& notices, const std::string& words) {
    for (const std::string& text : notices)
        if (text.find(words) != std::string::npos) return true;
    return false;
}

class BridgeFsuipcTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::SetEnvironment("KORVA_LINK_DIR", folder_.Path()); }
    void TearDown() override { IpcClose(); }
    testsupport::TempDir folder_;
};

TEST_F(BridgeFsuipcTest, FollowsTheSimulatorThroughItsAbsenceAndReturn) {
    Simulator simulator;
    FsuipcSource source(200ms);
    RawFlightValues raw;
    std::string error;

    // Nobody serves the link yet: no error at start, one notice however often it is tried.
    ASSERT_TRUE(source.Open(error)) << error;
    for (int i = 0; i < 6; ++i) EXPECT_EQ(source.Poll(100, raw), 0);
    std::vector<std::string> notices = Notices(source);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("cannot open the FSUIPC link: no simulator"), std::string::npos) << notices[0];
    EXPECT_EQ(Fields(raw), std::vector<std::uint32_t>(6, 0));

    // The simulator comes: every field from its own offset, the signed ones bit for bit.
    const std::vector<std::uint32_t> first = {0x40000000, 0xFE00, 400, 90, 0xE000, 0x4000};
    simulator.Set(first);
    simulator.Start();
    notices.clear();
    ASSERT_TRUE(PollUntilSample(source, raw, notices)) << ::testing::PrintToString(notices);
    EXPECT_TRUE(source.LinkOpen());
    EXPECT_TRUE(Mentions(notices, "FSUIPC link open")) << ::testing::PrintToString(notices);
    EXPECT_EQ(Fields(raw), first);
    EXPECT_EQ(raw.adf1Bearing, -8192);

    const std::vector<std::uint32_t> second = {0xFFFFFFFF, 0x8000, 359, 0, 0x7FFF, 0x8000};
    simulator.Set(second);
    ASSERT_EQ(source.Poll(200, raw), 1);
    EXPECT_EQ(Fields(raw), second);

    // It goes away: reported once, the last values kept, no sample from nowhere.
    simulator.Stop();
    int samples = 0;
    notices.clear();
    for (auto end = std::chrono::steady_clock::now() + 6s;
         std::chrono::steady_clock::now() < end && !Mentions(notices, "FSUIPC link lost");) {
        samples = source.Poll(100, raw);
        for (const std::string& text : Notices(source)) notices.push_back(text);
    }
    EXPECT_TRUE(Mentions(notices, "FSUIPC link lost")) << ::testing::PrintToString(notices);
    EXPECT_EQ(samples, 0);
    EXPECT_FALSE(source.LinkOpen());
    EXPECT_EQ(Fields(raw), second);

    // And comes back with new values: the link is opened again on its own.
    const std::vector<std::uint32_t> third = {0x80000000, 0x0100, 180, 270, 0x1000, 0xC000};
    simulator.Set(third);
    simulator.Start();
    notices.clear();
    ASSERT_TRUE(PollUntilSample(source, raw, notices)) << ::testing::PrintToString(notices);
    EXPECT_TRUE(Mentions(notices, "FSUIPC link open again")) << ::testing::PrintToString(notices);
    EXPECT_EQ(Fields(raw), third);
    source.Close();
}

}  // namespace
