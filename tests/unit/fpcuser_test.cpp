// The FSUIPC link against the simulator stand-in started as a real process, over the real
// local transport, in a link folder of each test's own. One test waits out a silent
// simulator (about 21 s); the rest take well under a second each.
#include "flightdata/FPCuser.h"
#include "platform/Link.h"
#include "platform/System.h"
#include "TestSupport.h"
#include "SimulatorLink.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string StandInPath() {
    const char* build = std::getenv("KORVA_BUILD_DIR");
    return std::string(build && *build ? build : KORVA_BUILD_DIR) + "/tools/simstandin/simstandin";
}

// The stand-in as a child process, driven through its standard input and output.
class StandIn {
public:
    explicit StandIn(std::vector<std::string> options) {
        int toChild[2], fromChild[2];
        if (pipe(toChild) != 0 || pipe(fromChild) != 0) return;
        std::string path = StandInPath();
        pid_ = fork();
        if (pid_ == 0) {
            dup2(toChild[0], STDIN_FILENO);
            dup2(fromChild[1], STDOUT_FILENO);
            close(toChild[0]);
            close(toChild[1]);
            close(fromChild[0]);
            close(fromChild[1]);
            std::vector<char*> argv{const_cast<char*>(path.c_str())};
            for (std::string& option : options) argv.push_back(option.data());
            argv.push_back(nullptr);
            execv(path.c_str(), argv.data());
            _exit(127);
        }
        close(toChild[0]);
        close(fromChild[1]);
        in_ = toChild[1];
        out_ = fromChild[0];
        ready_ = ReadLine(10000) == "ready";
    }
    ~StandIn() {
        if (pid_ <= 0) return;
        if (!exited_) {
            Command("quit");
            close(in_);
            in_ = -1;
            if (!WaitExit(3000)) Kill();
        }
        if (in_ >= 0) close(in_);
        close(out_);
    }

    bool Ready() const { return ready_; }

    std::string Command(const std::string& line) {
        std::string text = line + "\n";
        if (in_ < 0 || write(in_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "";
        return ReadLine(5000);
    }

    void Kill() {
        kill(pid_, SIGKILL);
        WaitExit(5000);
    }

    // The exit code once it has ended by itself, or -1.
    int ExitCode(int waitMs) { return WaitExit(waitMs) ? exitCode_ : -1; }

private:
    std::string ReadLine(int timeoutMs) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            std::size_t end = buffered_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffered_.substr(0, end);
                buffered_.erase(0, end + 1);
                return line;
            }
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count());
            pollfd entry{out_, POLLIN, 0};
            if (left <= 0 || poll(&entry, 1, left) <= 0) return "";
            char chunk[512];
            ssize_t n = read(out_, chunk, sizeof chunk);
            if (n <= 0) return "";
            buffered_.append(chunk, static_cast<std::size_t>(n));
        }
    }
    bool WaitExit(int timeoutMs) {
        if (exited_) return true;
        for (int waited = 0; waited <= timeoutMs; waited += 10) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return true;
            }
            usleep(10000);
        }
        return false;
    }

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    bool ready_ = false;
    bool exited_ = false;
    int exitCode_ = -1;
    std::string buffered_;
};

std::string BlockName() {
    char name[64];
    std::snprintf(name, sizeof name, "FsasmLib:IPC:%X:1", static_cast<unsigned>(GetCurrentProcessId()));
    return name;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Every test gets a link folder of its own, so stand-ins of other tests and other users of
// the machine stay out of its way.
class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        chmod(folder_.Path().c_str(), 0700);
        setenv("KORVA_LINK_DIR", folder_.Path().c_str(), 1);
    }
    void TearDown() override { IpcClose(); }

    // A stand-in serving the class, with its versions set; fails the test if it does not start.
    std::unique_ptr<StandIn> Start(const char* className = "FS98MAIN") {
        auto standIn = std::make_unique<StandIn>(std::vector<std::string>{"--class", className});
        EXPECT_TRUE(standIn->Ready()) << "the stand-in did not start: " << StandInPath();
        return standIn;
    }

    bool Open(IpcResult& code, std::uint32_t version = 0) { return IpcOpen(version, code); }

    testsupport::TempDir folder_;
};

TEST_F(LinkTest, ReadsAndWritesTravelInOneExchange) {
    auto standIn = Start();
    ASSERT_EQ(standIn->Command("set 0x0580 4 0x40000000"), "ok");
    ASSERT_EQ(standIn->Command("set 0x02A0 2 -1"), "ok");
    ASSERT_EQ(standIn->Command("set 0x1000 8 0x1122334455667788"), "ok");
    IpcResult code = -1;
    ASSERT_TRUE(Open(code)) << code;
    EXPECT_EQ(code, IPC_OK);
    EXPECT_EQ(standIn->Command("clientversion"), "1004");  // the client introduced itself
    ASSERT_EQ(standIn->Command("stats"), "exchanges 1 reads 2 writes 1");

    std::uint32_t heading = 7;
    std::int16_t variation = 7;
    std::uint8_t untouched[4] = {0xA5, 0xA5, 0xA5, 0xA5};
    std::uint64_t wide = 0;
    std::uint16_t value = 0x4321;
    EXPECT_TRUE(IpcQueueRead(0x0580, 4, &heading, code));
    EXPECT_TRUE(IpcQueueWrite(0x2000, 2, &value, code));
    EXPECT_TRUE(IpcQueueRead(0x1000, 0, untouched, code));  // a header only; nothing comes back
    EXPECT_TRUE(IpcQueueRead(0x02A0, 2, &variation, code));
    EXPECT_TRUE(IpcQueueRead(0x1000, 8, &wide, code));
    ASSERT_TRUE(IpcProcess(code));
    EXPECT_EQ(code, IPC_OK);
    EXPECT_EQ(heading, 0x40000000u);
    EXPECT_EQ(variation, -1);
    EXPECT_EQ(wide, 0x1122334455667788u);
    EXPECT_EQ(std::vector<std::uint8_t>(untouched, untouched + 4), std::vector<std::uint8_t>(4, 0xA5));
    EXPECT_EQ(standIn->Command("get 0x2000 2"), std::to_string(0x4321));
    EXPECT_EQ(standIn->Command("stats"), "exchanges 2 reads 6 writes 2");

    // Nothing queued: no message goes out.
    EXPECT_FALSE(IpcProcess(code));
    EXPECT_EQ(code, IPC_ERR_NODATA);
    EXPECT_EQ(standIn->Command("stats"), "exchanges 2 reads 6 writes 2");

    // A write without a source stores zeros instead of reading through a null pointer.
    EXPECT_TRUE(IpcQueueWrite(0x2000, 2, nullptr, code));
    ASSERT_TRUE(IpcProcess(code));
    EXPECT_EQ(standIn->Command("get 0x2000 2"), "0");
}

TEST_F(LinkTest, OpenWithoutSimulatorFailsWith2) {
    IpcResult code = -1;
    EXPECT_FALSE(Open(code));
    EXPECT_EQ(code, IPC_ERR_NOFS);
    EXPECT_FALSE(IpcQueueRead(0x0580, 4, &code, code));
    EXPECT_EQ(code, IPC_ERR_NOTOPEN);
}

TEST_F(LinkTest, VersionChecks) {
    struct Case {
        const char* name;
        const char* className;
        const char* fsuipcVersion;
        const char* simulatorVersion;
        std::uint32_t requested;
        IpcResult expected;
    };
    const Case cases[] = {
        {"oldest accepted FSUIPC", "FS98MAIN", "0x19980005", "0xFADE0007", 0, IPC_OK},
        {"one older, found as FS98MAIN", "FS98MAIN", "0x19980004", "0xFADE0007", 0, IPC_ERR_RUNNING},
        {"one older, found as UIPCMAIN", "UIPCMAIN", "0x19980004", "0xFADE0007", 0, IPC_ERR_VERSION},
        {"FSUIPC version with the top bit set is large, not negative", "FS98MAIN", "0x80000000", "0xFADE0007", 0,
         IPC_OK},
        {"no 0xFADE signature", "FS98MAIN", "0x40000000", "0xFADF0007", 0, IPC_ERR_RUNNING},
        {"no signature, UIPCMAIN", "UIPCMAIN", "0x40000000", "0x00000007", 0, IPC_ERR_VERSION},
        {"simulator asked for", "FS98MAIN", "0x40000000", "0xFADE0007", 7, IPC_OK},
        {"another simulator asked for", "FS98MAIN", "0x40000000", "0xFADE0007", 8, IPC_ERR_WRONGFS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto standIn = Start(c.className);
        ASSERT_EQ(standIn->Command(std::string("set 0x3304 4 ") + c.fsuipcVersion), "ok");
        ASSERT_EQ(standIn->Command(std::string("set 0x3308 4 ") + c.simulatorVersion), "ok");
        IpcResult code = -1;
        EXPECT_EQ(Open(code, c.requested), c.expected == IPC_OK);
        EXPECT_EQ(code, c.expected);
        if (c.expected != IPC_OK) {
            // A failed open leaves nothing behind: no atom, a closed link, and a block name
            // that can be taken again.
            EXPECT_EQ(GlobalFindAtomA(BlockName().c_str()), 0);
            std::uint32_t value;
            EXPECT_FALSE(IpcQueueRead(0x0580, 4, &value, code));
            EXPECT_EQ(code, IPC_ERR_NOTOPEN);
        } else {
            std::uint32_t heading = 1;
            EXPECT_TRUE(IpcQueueRead(0x0580, 4, &heading, code));
            EXPECT_TRUE(IpcProcess(code));
            EXPECT_EQ(heading, 0u);
        }
        IpcClose();
    }
}

TEST_F(LinkTest, UipcmainIsAskedBeforeFs98main) {
    auto uipc = Start("UIPCMAIN");
    auto fs98 = Start("FS98MAIN");
    ASSERT_EQ(uipc->Command("set 0x3304 4 0"), "ok");
    IpcResult code = -1;
    EXPECT_FALSE(Open(code));
    EXPECT_EQ(code, IPC_ERR_VERSION);
    EXPECT_NE(uipc->Command("stats"), "exchanges 0 reads 0 writes 0");
    EXPECT_EQ(fs98->Command("stats"), "exchanges 0 reads 0 writes 0");
}

TEST_F(LinkTest, HandshakeTriesFiveTimesWhileVersionsStayZero) {
    auto standIn = Start();
    ASSERT_EQ(standIn->Command("set 0x3304 4 0"), "ok");
    ASSERT_EQ(standIn->Command("set 0x3308 4 0"), "ok");
    IpcResult code = -1;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Open(code));
    EXPECT_GE(SecondsSince(start), 0.5) << "a 100 ms pause follows every try";
    EXPECT_EQ(code, IPC_ERR_RUNNING);
    // Five exchanges of two reads each; the client version went out once, on the first try.
    EXPECT_EQ(standIn->Command("stats"), "exchanges 5 reads 10 writes 1");
    EXPECT_EQ(standIn->Command("clientversion"), "1004");
}

TEST_F(LinkTest, OpenTwiceKeepsTheLinkUsable) {
    auto standIn = Start();
    ASSERT_EQ(standIn->Command("set 0x0C56 2 400"), "ok");
    IpcResult code = -1;
    ASSERT_TRUE(Open(code));
    EXPECT_FALSE(Open(code));
    EXPECT_EQ(code, IPC_ERR_OPEN);
    std::uint16_t bearing = 0;
    EXPECT_TRUE(IpcQueueRead(0x0C56, 2, &bearing, code));
    EXPECT_TRUE(IpcProcess(code));
    EXPECT_EQ(bearing, 400);
    EXPECT_EQ(standIn->Command("stats"), "exchanges 2 reads 3 writes 1");
}

TEST_F(LinkTest, RequestsMustLeaveRoomForTheTerminator) {
    // Requests and terminator may use 32512 bytes: a read header is 16 bytes, a write's 12,
    // the terminator 4.
    struct Case {
        const char* name;
        bool write;
        std::uint32_t alreadyQueued;  // bytes of a read queued first (header included)
        std::uint32_t size;
        bool fits;
    };
    const Case cases[] = {
        {"read ending exactly at the limit", false, 0, 32492, true},
        {"read one byte longer", false, 0, 32493, false},
        {"write ending exactly at the limit", true, 0, 32496, true},
        {"write one byte longer", true, 0, 32497, false},
        {"read after another read", false, 20, 32472, true},
        {"read after another read, one byte longer", false, 20, 32473, false},
        {"read of 4 GB - 1 must not wrap round", false, 0, 0xFFFFFFFF, false},
        {"write of 4 GB - 16 must not wrap round", true, 0, 0xFFFFFFF0, false},
    };
    auto standIn = Start();
    ASSERT_EQ(standIn->Command("set 0x0580 4 0x12345678"), "ok");
    ASSERT_EQ(standIn->Command("set 0x7EEB 1 0x5A"), "ok");  // last byte of a 32492-byte read at 0
    IpcResult code = -1;
    ASSERT_TRUE(Open(code));
    std::vector<std::uint8_t> data(32500, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::uint32_t first = 0;
        if (c.alreadyQueued) {
            ASSERT_TRUE(IpcQueueRead(0x0580, c.alreadyQueued - 16, &first, code));
        }
        std::fill(data.begin(), data.end(), 0xEE);
        bool queued = c.write ? IpcQueueWrite(0x8000, c.size, data.data(), code)
                              : IpcQueueRead(0, c.size, data.data(), code);
        EXPECT_EQ(queued, c.fits);
        EXPECT_EQ(code, c.fits ? IPC_OK : IPC_ERR_SIZE);
        // What was queued before a refused request still goes out.
        if (queued || c.alreadyQueued) {
            EXPECT_TRUE(IpcProcess(code)) << code;
        } else {
            EXPECT_FALSE(IpcProcess(code));
            EXPECT_EQ(code, IPC_ERR_NODATA);
        }
        if (c.alreadyQueued) {
            EXPECT_EQ(first, 0x12345678u);
        }
        if (queued && !c.write) {
            EXPECT_EQ(data[c.size - 1], c.size == 32492 ? 0x5A : 0);
            EXPECT_EQ(data[c.size], 0xEE) << "copied past the size queued";
        }
    }
}

TEST_F(LinkTest, EveryOperationFailsWith9AfterClose) {
    auto standIn = Start();
    IpcResult code = -1;
    ASSERT_TRUE(Open(code));
    std::uint32_t value = 0;
    ASSERT_TRUE(IpcQueueRead(0x0580, 4, &value, code));
    IpcClose();
    IpcClose();  // harmless when closed
    EXPECT_FALSE(IpcQueueRead(0x0580, 4, &value, code));
    EXPECT_EQ(code, IPC_ERR_NOTOPEN);
    code = -1;
    EXPECT_FALSE(IpcQueueWrite(0x0580, 4, &value, code));
    EXPECT_EQ(code, IPC_ERR_NOTOPEN);
    code = -1;
    EXPECT_FALSE(IpcProcess(code));
    EXPECT_EQ(code, IPC_ERR_NOTOPEN);
    EXPECT_EQ(GlobalFindAtomA(BlockName().c_str()), 0);

    // A new link starts empty: the read queued before the close is gone.
    ASSERT_TRUE(Open(code)) << code;
    EXPECT_FALSE(IpcProcess(code));
    EXPECT_EQ(code, IPC_ERR_NODATA);
}

TEST_F(LinkTest, FailedExchangesLeaveDestinationsAndEmptyTheQueue) {
    auto standIn = Start();
    ASSERT_EQ(standIn->Command("set 0x0580 4 0x40000000"), "ok");
    IpcResult code = -1;
    ASSERT_TRUE(Open(code));

    ASSERT_EQ(standIn->Command("misbehave answer 2"), "ok");
    std::uint32_t heading = 77;
    ASSERT_TRUE(IpcQueueRead(0x0580, 4, &heading, code));
    EXPECT_FALSE(IpcProcess(code));
    EXPECT_EQ(code, IPC_ERR_DATA);
    EXPECT_EQ(heading, 77u);
    EXPECT_FALSE(IpcProcess(code));
    EXPECT_EQ(code, IPC_ERR_NODATA);

    // A simulator that has gone: ten quick failures, then code 12.
    standIn->Kill();
    ASSERT_TRUE(IpcQueueRead(0x0580, 4, &heading, code));
    EXPECT_FALSE(IpcProcess(code));
    EXPECT_EQ(code, IPC_ERR_SENDMSG);
    EXPECT_EQ(heading, 77u);
}

TEST_F(LinkTest, SilentSimulatorTimesOutAfterTenSends) {
    auto standIn = Start();
    IpcResult code = -1;
    ASSERT_TRUE(Open(code));
    ASSERT_EQ(standIn->Command("misbehave silent"), "ok");
    std::uint32_t heading = 77;
    ASSERT_TRUE(IpcQueueRead(0x0580, 4, &heading, code));
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(IpcProcess(code));
    double waited = SecondsSince(start);
    // Each timed-out send leaves ERROR_TIMEOUT as the last error.
    EXPECT_EQ(code, IPC_ERR_SENDMSG);
    EXPECT_GE(waited, 10 * 2.0);
    EXPECT_EQ(heading, 77u);
    // The simulator wakes up: the next batch goes through.
    ASSERT_EQ(standIn->Command("misbehave none"), "ok");
    ASSERT_TRUE(IpcQueueRead(0x3304, 4, &heading, code));
    EXPECT_TRUE(IpcProcess(code)) << code;
    EXPECT_EQ(heading, 0x40000000u);
}

// A simulator end that spoils the block must not make the client read or write outside the
// block or its own destinations. The destinations are heap blocks of exactly the size queued,
// so AddressSanitizer sees any overrun, and each sits between two guard words.
TEST_F(LinkTest, SpoiledBlocksCannotMisdirectTheReplies) {
    struct Case {
        const char* mode;
        bool secondAndThirdArrive;  // whether the walk reaches past the first record
    };
    const Case cases[] = {{"scramble", true}, {"badkind", false}, {"highkind", false}, {"garbage", false}};
    auto standIn = Start();
    ASSERT_EQ(standIn->Command("set 0x0580 4 0x40000000"), "ok");
    ASSERT_EQ(standIn->Command("set 0x0C56 2 123"), "ok");
    ASSERT_EQ(standIn->Command("set 0x02D8 2 -16384"), "ok");
    IpcResult code = -1;
    ASSERT_TRUE(Open(code));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        ASSERT_EQ(standIn->Command(std::string("misbehave ") + c.mode), "ok");
        auto heading = std::make_unique<std::uint8_t[]>(4);
        auto vor = std::make_unique<std::uint8_t[]>(2);
        auto adf = std::make_unique<std::uint8_t[]>(2);
        std::memset(heading.get(), 0xCC, 4);
        std::memset(vor.get(), 0xCC, 2);
        std::memset(adf.get(), 0xCC, 2);
        struct {
            std::uint32_t before = 0xB0B0B0B0;
            std::uint8_t value[4] = {0xCC, 0xCC, 0xCC, 0xCC};
            std::uint32_t after = 0xA0A0A0A0;
        } guarded;
        std::uint16_t written = 9;
        ASSERT_TRUE(IpcQueueRead(0x0580, 4, heading.get(), code));
        ASSERT_TRUE(IpcQueueWrite(0x2000, 2, &written, code));
        ASSERT_TRUE(IpcQueueRead(0x0C56, 2, vor.get(), code));
        ASSERT_TRUE(IpcQueueRead(0x02D8, 2, adf.get(), code));
        ASSERT_TRUE(IpcQueueRead(0x0580, 4, guarded.value, code));
        EXPECT_TRUE(IpcProcess(code));
        EXPECT_EQ(guarded.before, 0xB0B0B0B0u);
        EXPECT_EQ(guarded.after, 0xA0A0A0A0u);
        if (std::string(c.mode) != "garbage") {
            std::uint32_t h;
            std::memcpy(&h, heading.get(), 4);
            EXPECT_EQ(h, 0x40000000u);
        }
        std::uint16_t v, a;
        std::memcpy(&v, vor.get(), 2);
        std::memcpy(&a, adf.get(), 2);
        if (c.secondAndThirdArrive) {
            EXPECT_EQ(v, 123);
            EXPECT_EQ(a, 0xC000);
            EXPECT_EQ(std::memcmp(guarded.value, "\x00\x00\x00\x40", 4), 0);
        } else if (std::string(c.mode) != "garbage") {
            // The write record's kind was spoiled (0xEE, or 0x102 whose low byte is still
            // right): kinds are compared whole, so the walk ends there.
            EXPECT_EQ(v, 0xCCCC);
            EXPECT_EQ(a, 0xCCCC);
        }
    }
    // The link still works afterwards.
    ASSERT_EQ(standIn->Command("misbehave none"), "ok");
    std::uint32_t heading = 0;
    ASSERT_TRUE(IpcQueueRead(0x0580, 4, &heading, code));
    EXPECT_TRUE(IpcProcess(code));
    EXPECT_EQ(heading, 0x40000000u);
}

// Objects left behind by crashed processes must not block the next start.
TEST_F(LinkTest, SurvivesWhatCrashedProcessesLeftBehind) {
    {
        auto crashed = Start();
        crashed->Kill();  // leaves its socket file
    }
    IpcResult code = -1;
    EXPECT_FALSE(Open(code));
    EXPECT_EQ(code, IPC_ERR_NOFS) << "a dead simulator's socket is not a window";
    auto standIn = Start();

    // A block of our name held by a live process: code 5, and no atom stays behind.
    std::string name = BlockName();
    HANDLE live = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0x8000, name.c_str());
    ASSERT_NE(live, nullptr);
    EXPECT_FALSE(Open(code));
    EXPECT_EQ(code, IPC_ERR_MAP);
    EXPECT_EQ(GlobalFindAtomA(name.c_str()), 0);
    CloseHandle(live);

    // The same block and an atom left by a process that died holding them, and a block it
    // left in a link folder of its own, which nobody will use again.
    testsupport::TempDir otherFolder;
    chmod(otherFolder.Path().c_str(), 0700);
    pid_t child = fork();
    if (child == 0) {
        bool made = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0x8000, name.c_str()) &&
                    GlobalAddAtomA("left by a crash") != 0;
        setenv("KORVA_LINK_DIR", otherFolder.Path().c_str(), 1);
        made = made && CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0x8000,
                                          "left-in-another-folder");
        _exit(made ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(GlobalFindAtomA("left by a crash"), 0);
    EXPECT_TRUE(Open(code)) << code;
    std::string shared;
    DIR* objects = opendir("/dev/shm");
    ASSERT_NE(objects, nullptr);
    while (dirent* item = readdir(objects)) shared += std::string(item->d_name) + "\n";
    closedir(objects);
    EXPECT_EQ(shared.find("left-in-another-folder"), std::string::npos) << shared;

    // A second stand-in for a class that is served already refuses to start.
    StandIn second({"--class", "FS98MAIN"});
    EXPECT_FALSE(second.Ready());
    EXPECT_EQ(second.ExitCode(3000), 1);
}

// A relative KORVA_LINK_DIR would mean another folder to each process with another current
// directory; it is refused, and nothing is made where the current directory happens to be.
TEST_F(LinkTest, RefusesARelativeLinkFolder) {
    testsupport::TempDir here;
    testsupport::ScopedCurrentDirectory inHere(here.Path());
    for (const char* relative : {"korva-link", "./korva-link", "sub/../korva-link"}) {
        SCOPED_TRACE(relative);
        setenv("KORVA_LINK_DIR", relative, 1);
        StandIn refused({"--class", "FS98MAIN"});
        EXPECT_FALSE(refused.Ready());
        EXPECT_EQ(refused.ExitCode(3000), 1);
        EXPECT_EQ(FindWindowExA(nullptr, nullptr, "FS98MAIN", nullptr), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(GlobalAddAtomA("anything"), 0);
        EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0x8000, "block"), nullptr);
        struct stat info;
        EXPECT_NE(lstat((here.Path() + "/korva-link").c_str(), &info), 0) << "made in the current directory";
    }
}

// The stand-in's end checks a whole block before carrying out any of it: a record of an
// unknown kind (compared as 32 bits) or one running past the block's end leaves the offset
// memory as it was, and is told apart from a block that reaches its terminator.
TEST(StandInBlock, MalformedBlocksChangeNothing) {
    struct Case {
        const char* what;
        std::uint32_t secondKind;
        std::uint32_t secondSize;
        bool complete;
    };
    const Case cases[] = {
        {"well formed", 2, 2, true},
        {"kind 0x102: right low byte, wrong kind", 0x102, 2, false},
        {"kind 0x100: zero low byte, no terminator", 0x100, 2, false},
        {"unknown kind", 7, 2, false},
        {"runs past the block", 2, 0x7FFF, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> block(0x8000, 0);
        auto put = [&block](std::size_t at, std::uint32_t value) {
            for (int i = 0; i < 4; ++i) block[at + i] = static_cast<unsigned char>(value >> (8 * i));
        };
        // write 2 bytes at 0x2000, then the second record, a read of 0x2000, the terminator
        put(0, 2), put(4, 0x2000), put(8, 2), block[12] = 0x34, block[13] = 0x12;
        put(14, c.secondKind), put(18, 0x2002), put(22, c.secondSize), block[26] = 0x78, block[27] = 0x56;
        put(28, 1), put(32, 0x2000), put(36, 4), put(40, 0);
        put(48, 0);
        OffsetMemory memory;
        std::uint32_t clientVersion = 0;
        bool complete = !c.complete;
        std::vector<BlockRecord> done = CarryOutBlock(block.data(), block.size(), memory, clientVersion, complete);
        EXPECT_EQ(complete, c.complete);
        EXPECT_EQ(done.size(), c.complete ? 3u : 0u);
        EXPECT_EQ(memory.ReadUnsigned(0x2000, 4), c.complete ? 0x56781234u : 0u);
        EXPECT_EQ(block[44] | block[45] << 8, c.complete ? 0x1234 : 0) << "the read's reply";
    }
}

TEST_F(LinkTest, RefusesAFolderOthersCanEnter) {
    std::vector<std::pair<const char*, bool>> cases{{"open to the group and others", true}};
    if (geteuid() == 0) cases.push_back({"owned by another user", false});
    for (const auto& [name, openMode] : cases) {
        SCOPED_TRACE(name);
        testsupport::TempDir folder;
        if (openMode) {
            ASSERT_EQ(chmod(folder.Path().c_str(), 0755), 0);
        } else {
            ASSERT_EQ(chmod(folder.Path().c_str(), 0700), 0);
            ASSERT_EQ(chown(folder.Path().c_str(), 65534, 65534), 0);
        }
        setenv("KORVA_LINK_DIR", folder.Path().c_str(), 1);
        StandIn refused({"--class", "FS98MAIN"});
        EXPECT_FALSE(refused.Ready());
        EXPECT_EQ(refused.ExitCode(3000), 1);
        EXPECT_EQ(FindWindowExA(nullptr, nullptr, "FS98MAIN", nullptr), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(GlobalAddAtomA("anything"), 0);
        IpcResult code = -1;
        EXPECT_FALSE(IpcOpen(0, code));
        EXPECT_EQ(code, IPC_ERR_NOFS);
        (void)chown(folder.Path().c_str(), geteuid(), getegid());
    }
}

}  // namespace
