// The link folder's atom table as any process of the user may leave it: damaged lines cost
// only themselves, and what the lookups give agrees with itself.
#include "platform/Link.h"
#include "platform/System.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>

namespace {

class AtomTable : public ::testing::Test {
protected:
    void SetUp() override {
        chmod(folder_.Path().c_str(), 0700);
        setenv("KORVA_LINK_DIR", folder_.Path().c_str(), 1);
    }
    void Table(const std::string& text) { testsupport::WriteWholeFile(folder_.File("atoms"), text); }

    testsupport::TempDir folder_;
};

// This process as a holder whose start time is unknown, so that only the pid is checked.
std::string Me() {
    return std::to_string(GetCurrentProcessId()) + ".0";
}

TEST_F(AtomTable, DamagedLinesAreSkippedAndTheRestReads) {
    struct Case {
        const char* what;
        std::string line;
        ATOM atom;
        const char* name;  // what GlobalGetAtomNameA gives, "" when the line is skipped
    };
    const Case cases[] = {
        {"a good line", "C000 " + Me() + " FsasmLib:IPC:1:1\n", 0xC000, "FsasmLib:IPC:1:1"},
        {"a zero byte in the name", std::string("C001 ") + Me() + std::string(" Fsasm\0Lib\n", 11), 0xC001, ""},
        {"below the string atoms", "BFFF " + Me() + " low\n", 0xBFFF, ""},
        {"no holders", "C003  empty holders\n", 0xC003, ""},
        {"a holder that is not one", "C004 " + Me() + ",x.1 bad\n", 0xC004, ""},
        {"a second line of a number", "C000 " + Me() + " duplicate\n", 0xC000, "FsasmLib:IPC:1:1"},
        {"the unfinished last line", "C005 " + Me() + " cut", 0xC005, ""},
    };
    std::string text = "korva-atoms 1\n";
    for (const Case& c : cases) text += c.line;
    Table(text);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        char buffer[64];
        std::memset(buffer, '#', sizeof buffer);
        UINT length = GlobalGetAtomNameA(c.atom, buffer, sizeof buffer);
        EXPECT_EQ(std::string(buffer, length), c.name);
        EXPECT_EQ(std::strlen(buffer), length) << "the length disagrees with the text";
        if (*c.name) {
            EXPECT_EQ(GlobalFindAtomA(c.name), c.atom);
        }
    }
    EXPECT_EQ(GlobalFindAtomA("Fsasm"), 0) << "a name cut at its zero byte was found";

    // Adding an atom rewrites the table with the good lines only, and keeps them.
    ATOM added = GlobalAddAtomA("Fsasm");
    EXPECT_GE(added, 0xC001);
    EXPECT_EQ(GlobalFindAtomA("fsasmlib:ipc:1:1"), 0xC000);
    EXPECT_EQ(GlobalDeleteAtom(added), 0);
    EXPECT_EQ(GlobalFindAtomA("Fsasm"), 0);
    EXPECT_EQ(testsupport::ReadWholeFile(folder_.File("atoms")), "korva-atoms 1\nC000 " + Me() + " FsasmLib:IPC:1:1\n");
}

}  // namespace
