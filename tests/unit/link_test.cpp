// The FSUIPC link between the instrument's client (FPCuser) and the stand-in's simulator end
// running in this process on a thread of its own: on Linux over the local transport, on
// Windows through a real window of the class, a registered message, a global atom and a
// named file mapping. The same cases hold on both.
#include "flightdata/FPCuser.h"
#include "platform/Link.h"
#include "TestSupport.h"

// The stand-in's link end is a tool, not part of the instrument's library.
#include "OffsetMemory.h"
#include "SimulatorLink.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A simulator end with the versions the stand-in reports by default.
struct Simulator {
    OffsetMemory memory;
    SimulatorLink link{memory};
    explicit Simulator(std::uint32_t simulatorVersion = 0xFADE0007) {
        memory.WriteUnsigned(0x3304, 4, 0x40000000);
        memory.WriteUnsigned(0x3308, 4, simulatorVersion);
    }
    bool Serve(const char* className) {
        std::string error;
        bool started = link.Start(className, error);
        EXPECT_TRUE(started) << error;
        return started;
    }
};

// Every test gets a link folder of its own on Linux (Windows ignores the variable).
class LinkRoundTrip : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::SetEnvironment("KORVA_LINK_DIR", folder_.Path());
    }
    void TearDown() override { IpcClose(); }

    testsupport::TempDir folder_;
};

TEST_F(LinkRoundTrip, ReadsAndWritesTravelThroughTheSimulatorsEnd) {
    Simulator simulator;
    ASSERT_TRUE(simulator.Serve("FS98MAIN"));
    simulator.memory.WriteUnsigned(0x0580, 4, 0x40000000);
    simulator.memory.WriteUnsigned(0x02A0, 2, 0xFFFF);
    simulator.memory.WriteUnsigned(0x1000, 8, 0x1122334455667788ull);

    IpcResult code = -1;
    ASSERT_TRUE(IpcOpen(0, code)) << code;
    EXPECT_EQ(code, IPC_OK);
    LinkStats stats = simulator.link.Stats();
    EXPECT_EQ(stats.clientVersion, 1004u);  // the client introduced itself
    EXPECT_EQ(stats.exchanges, 1u);

    std::uint32_t heading = 7;
    std::int16_t variation = 7;
    std::uint64_t wide = 0;
    std::uint16_t value = 0x4321;
    EXPECT_TRUE(IpcQueueRead(0x0580, 4, &heading, code));
    EXPECT_TRUE(IpcQueueWrite(0x2000, 2, &value, code));
    EXPECT_TRUE(IpcQueueRead(0x02A0, 2, &variation, code));
    EXPECT_TRUE(IpcQueueRead(0x1000, 8, &wide, code));
    ASSERT_TRUE(IpcProcess(code)) << code;
    EXPECT_EQ(heading, 0x40000000u);
    EXPECT_EQ(variation, -1);
    EXPECT_EQ(wide, 0x1122334455667788u);
    EXPECT_EQ(simulator.memory.ReadUnsigned(0x2000, 2), 0x4321u);
    stats = simulator.link.Stats();
    EXPECT_EQ(stats.exchanges, 2u);
    EXPECT_EQ(stats.reads, 2u + 3u);
    EXPECT_EQ(stats.writes, 1u + 1u);

    // Many exchanges in a row, each seeing the simulator's latest value.
    for (std::uint32_t i = 1; i <= 50; ++i) {
        simulator.memory.WriteUnsigned(0x0580, 4, i * 1000);
        ASSERT_TRUE(IpcQueueRead(0x0580, 4, &heading, code));
        ASSERT_TRUE(IpcProcess(code)) << "exchange " << i << ": " << code;
        ASSERT_EQ(heading, i * 1000);
    }
}

TEST_F(LinkRoundTrip, WithoutASimulatorOpenFailsAndNothingIsQueued) {
    IpcResult code = -1;
    EXPECT_FALSE(IpcOpen(0, code));
    EXPECT_EQ(code, IPC_ERR_NOFS);
    std::uint32_t heading = 0;
    EXPECT_FALSE(IpcQueueRead(0x0580, 4, &heading, code));
    EXPECT_EQ(code, IPC_ERR_NOTOPEN);
}

TEST_F(LinkRoundTrip, EitherClassIsFoundAndTheVersionsAreChecked) {
    {
        Simulator uipc;
        ASSERT_TRUE(uipc.Serve("UIPCMAIN"));
        IpcResult code = -1;
        EXPECT_TRUE(IpcOpen(0x0007, code)) << code;
        IpcClose();
        EXPECT_FALSE(IpcOpen(0x0008, code));
        EXPECT_EQ(code, IPC_ERR_WRONGFS);
        IpcClose();
    }
    {
        // A simulator without the signature found as FS98MAIN: "running", not "version".
        Simulator stranger(0x12340007);
        ASSERT_TRUE(stranger.Serve("FS98MAIN"));
        IpcResult code = -1;
        EXPECT_FALSE(IpcOpen(0, code));
        EXPECT_EQ(code, IPC_ERR_RUNNING);
    }
}

TEST_F(LinkRoundTrip, OneServerPerClass) {
    Simulator first;
    ASSERT_TRUE(first.Serve("FS98MAIN"));
    Simulator second;
    std::string error;
    EXPECT_FALSE(second.link.Start("FS98MAIN", error));
    EXPECT_NE(error.find("FS98MAIN"), std::string::npos) << error;
}

TEST_F(LinkRoundTrip, AWrongAnswerLeavesTheDestinationsAlone) {
    Simulator simulator;
    ASSERT_TRUE(simulator.Serve("FS98MAIN"));
    simulator.memory.WriteUnsigned(0x0580, 4, 1234);
    IpcResult code = -1;
    ASSERT_TRUE(IpcOpen(0, code)) << code;
    simulator.link.SetMisbehaviour(Misbehaviour::Answer, 0);
    std::uint32_t heading = 7;
    ASSERT_TRUE(IpcQueueRead(0x0580, 4, &heading, code));
    EXPECT_FALSE(IpcProcess(code));
    EXPECT_EQ(code, IPC_ERR_DATA);
    EXPECT_EQ(heading, 7u);

    simulator.link.SetMisbehaviour(Misbehaviour::None);
    ASSERT_TRUE(IpcQueueRead(0x0580, 4, &heading, code));
    EXPECT_TRUE(IpcProcess(code)) << code;
    EXPECT_EQ(heading, 1234u);
}

}  // namespace
