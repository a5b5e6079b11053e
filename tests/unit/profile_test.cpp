// The INI file functions against a corpus of real-looking and hostile files
// (tests/data/ini), and the edits a write makes to a user's file, compared byte for byte.
#include "platform/Profile.h"
#include "platform/System.h"
#include "TestSupport.h"
#include "tests/sidebyside/ProfileListing.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::ReadWholeFile;
using testsupport::TempDir;
using testsupport::WriteWholeFile;

namespace {

const std::string Corpus = std::string(KORVA_SOURCE_DIR) + "/tests/data/ini/";
constexpr char Default[] = "<default>";

std::string Read(const std::string& file, const char* section, const char* key,
                 const char* defaultValue = Default, DWORD size = 2048) {
    std::vector<char> buffer(size + 1, '#');
    DWORD length = GetPrivateProfileStringA(section, key, defaultValue, buffer.data(), size,
                                            file.c_str());
    EXPECT_LT(length, size);
    EXPECT_EQ(buffer[length], '\0') << "not terminated after the copied length";
    return std::string(buffer.data(), length);
}

// The names in a folder, to catch temporary files left behind.
std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* e = readdir(dir)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    return names;
}

struct ReadCase {
    const char* file;
    const char* section;
    const char* key;
    std::string expected;
};

TEST(ProfileRead, CorpusReadsAsWindowsReadsIt) {
    const std::string longLine(2047, '7');
    const ReadCase cases[] = {
        {"plain.ini", "LAN", "KORVASERVER", "192.168.1.20"},
        {"plain.ini", "WINDOW", "Y", "-20"},
        {"plain.ini", "WINSIZE", "HEIGHT", "400"},
        {"plain.ini", "WINSIZE", "DEPTH", Default},
        {"plain.ini", "NOSUCH", "X", Default},
        // Line ends: CRLF, a mix, none at the end; no carriage return may stick to a value.
        {"crlf.ini", "LAN", "KORVAPORT", "8002"},
        {"crlf.ini", "WINDOW", "Y", "34"},
        {"mixed-line-ends.ini", "WINDOW", "X", "5"},
        {"mixed-line-ends.ini", "WINDOW", "Y", "6"},
        {"mixed-line-ends.ini", "WINSIZE", "WIDTH", "300"},
        {"mixed-line-ends.ini", "WINSIZE", "HEIGHT", "200"},
        {"no-final-newline.ini", "WINSIZE", "WIDTH", "640"},
        // The byte-order mark must not become part of the first header.
        {"bom.ini", "WINDOW", "X", "77"},
        // Case and blanks around names, "=" and values.
        {"case-and-blanks.ini", "WINDOW", "X", "123"},
        {"case-and-blanks.ini", "window", "y", "-7"},
        {"case-and-blanks.ini", "WINSIZE", "WIDTH", "500"},
        {"case-and-blanks.ini", "WINSIZE", "HEIGHT", ""},
        {"case-and-blanks.ini", " WINDOW ", " X ", "123"},
        // One matching pair of quotes goes; anything else stays.
        {"quotes.ini", "WINDOW", "X", "124"},
        {"quotes.ini", "WINDOW", "Y", "84"},
        {"quotes.ini", "LAN", "KORVASERVER", " sim pc "},
        {"quotes.ini", "LAN", "KORVAPORT", "\"8002'"},
        {"quotes.ini", "LAN", "USELAN", "\""},
        {"quotes.ini", "LAN", "EMPTYQUOTES", ""},
        {"quotes.ini", "LAN", "INNER", "a \"b\" c"},
        // The first key wins; only the first section of a name counts.
        {"duplicates.ini", "WINDOW", "X", "1"},
        {"duplicates.ini", "WINDOW", "Y", Default},
        {"duplicates.ini", "WINSIZE", "HEIGHT", Default},
        // Comments are whole lines; text after a value belongs to it.
        {"comments.ini", "WINDOW", "X", "125 ; left edge of the second screen"},
        {"comments.ini", "WINDOW", "Y", "5 # top"},
        {"comments.ini", "WINDOW", "# Z", "1"},
        // A key without "=" defines nothing; "=" with nothing after it is an empty value.
        {"no-equals.ini", "WINDOW", "X", Default},
        {"no-equals.ini", "WINDOW", "Y", Default},
        {"no-equals.ini", "WINDOW", "Y 17", Default},
        {"no-equals.ini", "WINDOW", "WIDTH", ""},
        {"no-equals.ini", "WINSIZE", "WIDTH", Default},
        {"no-equals.ini", "WINSIZE", "HEIGHT", ""},
        // A header without "]" opens nothing; the next good header counts again.
        {"unterminated-section.ini", "WINDOW", "X", Default},
        {"unterminated-section.ini", "WINSIZE", "WIDTH", "410"},
        {"unterminated-section.ini", "LAN", "USELAN", "Y"},
        {"keys-before-section.ini", "WINDOW", "X", Default},
        {"keys-before-section.ini", "WINDOW", "Y", "2"},
        // Binary junk and a 100 KB line between the entries; a zero byte ends a value.
        {"junk.ini", "WINDOW", "X", "301"},
        {"junk.ini", "WINDOW", "Y", "302"},
        {"junk.ini", "WINSIZE", "WIDTH", "303"},
        {"junk.ini", "WINSIZE", "HEIGHT", longLine},
        {"junk.ini", "WINSIZE", "DEPTH", "304"},
        {"empty.ini", "WINDOW", "X", Default},
        {"only-comments.ini", "WINDOW", "X", Default},
        {"missing.ini", "WINDOW", "X", Default},
    };
    for (const ReadCase& c : cases)
        EXPECT_EQ(Read(Corpus + c.file, c.section, c.key), c.expected)
            << c.file << " [" << c.section << "] " << c.key;
}

using profilelisting::Listing;

// Each corpus file read whole, compared with its golden listing (<name>.golden beside it),
// so that a change in how any line of any file reads shows up, not only the keys named above.
TEST(ProfileRead, CorpusListingsMatchTheirGoldens) {
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(Corpus)) {
        if (entry.path().extension() != ".ini") continue;
        ++files;
        const std::string ini = entry.path().string();
        std::string golden = ini.substr(0, ini.size() - 4) + ".golden";
        ASSERT_TRUE(std::filesystem::exists(golden)) << "no golden listing for " << ini << "; it reads:\n"
                                                     << Listing(ini);
        EXPECT_EQ(Listing(ini), ReadWholeFile(golden)) << ini;
    }
    EXPECT_GE(files, 15u);
}

TEST(ProfileRead, BufferSizeCutsValueAndDefaultAlike) {
    const std::string junk = Corpus + "junk.ini";
    // The size the configuration reads with, a tiny one, and the value's own length.
    EXPECT_EQ(Read(junk, "WINSIZE", "HEIGHT", Default, 2048).size(), 2047u);
    EXPECT_EQ(Read(junk, "WINSIZE", "HEIGHT", Default, 4), "777");
    EXPECT_EQ(Read(junk, "WINSIZE", "HEIGHT", Default, 1), "");
    EXPECT_EQ(Read(junk, "WINSIZE", "HEIGHT", Default, 4000), std::string(3000, '7'));
    EXPECT_EQ(Read(junk, "WINSIZE", "NOSUCH", "abcdef", 4), "abc");

    // Size 0: nothing is written at all.
    char untouched[4] = {'x', 'y', 'z', '\0'};
    EXPECT_EQ(GetPrivateProfileStringA("WINDOW", "X", "1", untouched, 0, junk.c_str()), 0u);
    EXPECT_STREQ(untouched, "xyz");
}

TEST(ProfileRead, DefaultsForWhatIsNotThere) {
    TempDir dir;
    EXPECT_EQ(Read(dir.File("none.ini"), "WINDOW", "X", nullptr), "");
    EXPECT_EQ(Read(dir.File("none.ini"), "WINDOW", "X", "400  "), "400");  // as Windows
    EXPECT_EQ(Read(dir.Path(), "WINDOW", "X", "0"), "0");                    // a folder
    EXPECT_EQ(Read(Corpus + "plain.ini", "WINDOW", "X", nullptr), "1650");
}

TEST(ProfileRead, NullSectionOrKeyListsNames) {
    const std::string plain = Corpus + "plain.ini";
    char buffer[64];
    DWORD length = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, plain.c_str());
    EXPECT_EQ(std::string(buffer, length + 1), std::string("LAN\0WINBORDER\0WINDOW\0WINSIZE\0\0", 30));

    const std::string duplicates = Corpus + "duplicates.ini";
    length = GetPrivateProfileStringA("window", nullptr, "", buffer, sizeof buffer, duplicates.c_str());
    EXPECT_EQ(std::string(buffer, length + 1), std::string("X\0\0", 3));

    // Too small: cut, ended by two zeros, size - 2 returned.
    length = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, 8, plain.c_str());
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(std::string(buffer, 8), std::string("LAN\0WI\0\0", 8));
}

// A zero byte inside a name ends it, as it ends the name a caller passes: every name a list
// gives must find its section or key again, and a write or delete must reach it.
TEST(ProfileRead, AZeroByteEndsANameAsItEndsAValue) {
    TempDir dir;
    const std::string file = dir.File("zero.ini");
    WriteWholeFile(file, std::string("[WIND\0\0\x02OW]\nX=1\nY\0Z=2\n[LAN]\nUSELAN=N\n", 37));
    char buffer[64];
    DWORD length = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, file.c_str());
    EXPECT_EQ(std::string(buffer, length + 1), std::string("WIND\0LAN\0\0", 10));
    length = GetPrivateProfileStringA("WIND", nullptr, "", buffer, sizeof buffer, file.c_str());
    EXPECT_EQ(std::string(buffer, length + 1), std::string("X\0Y\0\0", 5));
    EXPECT_EQ(Read(file, "WIND", "X"), "1");
    EXPECT_EQ(Read(file, "WIND", "Y"), "2");

    ASSERT_TRUE(WritePrivateProfileStringA("wind", "y", "3", file.c_str()));
    EXPECT_EQ(Read(file, "WIND", "Y"), "3");
    ASSERT_TRUE(WritePrivateProfileStringA("WIND", nullptr, nullptr, file.c_str()));
    length = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, file.c_str());
    EXPECT_EQ(std::string(buffer, length + 1), std::string("LAN\0\0", 5));
    EXPECT_EQ(Read(file, "LAN", "USELAN"), "N");
}

// ---- writing ----

struct EditCase {
    const char* what;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
};

TEST(ProfileWrite, EditsOnlyTheEntryConcerned) {
    const std::string user =
        "; my settings\r\n"
        "[LAN]\r\n"
        "USELAN = N   \r\n"
        "\r\n"
        "[WINDOW]\r\n"
        "  X =  1650\r\n"
        "\r\n"
        "; the size\r\n"
        "[WINSIZE]\r\n"
        "WIDTH=400\r\n";
    const EditCase cases[] = {
        {"replace keeps indentation, spelling, blanks and CRLF", user, "window", "x", "6",
         "; my settings\r\n[LAN]\r\nUSELAN = N   \r\n\r\n[WINDOW]\r\n  X =  6\r\n\r\n"
         "; the size\r\n[WINSIZE]\r\nWIDTH=400\r\n"},
        {"new key goes after the section's last key, before what introduces the next", user,
         "WINDOW", "Y", "-3",
         "; my settings\r\n[LAN]\r\nUSELAN = N   \r\n\r\n[WINDOW]\r\n  X =  1650\r\nY=-3\r\n\r\n"
         "; the size\r\n[WINSIZE]\r\nWIDTH=400\r\n"},
        {"new section at the end, in the file's line ends", user, "WINBORDER", "ACTIVE", "N",
         user + "\r\n[WINBORDER]\r\nACTIVE=N\r\n"},
        {"last line without its line end", "[WINSIZE]\nWIDTH=640", "WINSIZE", "HEIGHT", "480",
         "[WINSIZE]\nWIDTH=640\nHEIGHT=480\n"},
        {"new section after a last line without line end", "[WINSIZE]\nWIDTH=640", "WINDOW",
         "X", "1", "[WINSIZE]\nWIDTH=640\n\n[WINDOW]\nX=1\n"},
        {"replace on a last line without line end", "[WINSIZE]\nWIDTH=640", "WINSIZE", "WIDTH",
         "641", "[WINSIZE]\nWIDTH=641"},
        {"key into a section that has none", "[WINDOW]\n; empty\n[WINSIZE]\n", "WINDOW", "X",
         "2", "[WINDOW]\nX=2\n; empty\n[WINSIZE]\n"},
        {"byte-order mark stays", "\xEF\xBB\xBF[WINDOW]\r\nX=1\r\n", "WINDOW", "X", "2",
         "\xEF\xBB\xBF[WINDOW]\r\nX=2\r\n"},
        {"only the first section and first key of a name", "[W]\nX=1\nX=2\n[W]\nX=3\n", "W",
         "X", "9", "[W]\nX=9\nX=2\n[W]\nX=3\n"},
        {"junk lines between entries stay", "[W]\n\x01\x02\xff\n\xef junk\nX=1\n", "W", "X",
         "22", "[W]\n\x01\x02\xff\n\xef junk\nX=22\n"},
        {"a header without \"]\" is not the section", "[W\nX=1\n", "W", "X", "2",
         "[W\nX=1\n\n[W]\nX=2\n"},
        {"empty file gets just the section", "", "WINDOW", "X", "0", "[WINDOW]\nX=0\n"},
        {"null value deletes every copy of the key in the first section",
         "[W]\nX=1\nY=2\nx=3\n[W]\nX=4\n", "W", "X", nullptr, "[W]\nY=2\n[W]\nX=4\n"},
        {"null key deletes the section, keeping what introduces the next",
         "[A]\nK=1\n[W]\nX=1\n; c\nY=2\n\n; about B\n[B]\nK=2\n", "w", nullptr, nullptr,
         "[A]\nK=1\n\n; about B\n[B]\nK=2\n"},
    };
    TempDir dir;
    const std::string file = dir.File("settings.ini");
    for (const EditCase& c : cases) {
        WriteWholeFile(file, c.before);
        EXPECT_TRUE(WritePrivateProfileStringA(c.section, c.key, c.value, file.c_str())) << c.what;
        EXPECT_EQ(ReadWholeFile(file), c.after) << c.what;
    }
}

TEST(ProfileWrite, FirstWriteCreatesTheFileAndDeletesCreateNothing) {
    TempDir dir;
    const std::string file = dir.File("new.ini");
    EXPECT_TRUE(WritePrivateProfileStringA("WINDOW", "X", nullptr, file.c_str()));
    EXPECT_TRUE(WritePrivateProfileStringA("WINDOW", nullptr, nullptr, file.c_str()));
    EXPECT_FALSE(std::ifstream(file).good()) << "a delete created the file";

    ASSERT_TRUE(WritePrivateProfileStringA("WINDOW", "X", "-20", file.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("WINSIZE", "WIDTH", "401", file.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("WINDOW", "Y", "7", file.c_str()));
    EXPECT_EQ(ReadWholeFile(file), "[WINDOW]\nX=-20\nY=7\n\n[WINSIZE]\nWIDTH=401\n");

    // A new file gets the usual permissions, not those of a private temporary file.
    mode_t mask = umask(0);
    umask(mask);
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"new.ini"}) << "temporary file left";
}

TEST(ProfileWrite, KeepsPermissionsAndSymbolicLinks) {
    TempDir dir;
    const std::string real = dir.File("real.ini");
    const std::string link = dir.File("link.ini");
    WriteWholeFile(real, "[WINDOW]\nX=1\n");
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(symlink("real.ini", link.c_str()), 0);

    ASSERT_TRUE(WritePrivateProfileStringA("WINDOW", "X", "2", link.c_str()));
    struct stat info {};
    ASSERT_EQ(lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link was replaced by a file";
    ASSERT_EQ(stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadWholeFile(real), "[WINDOW]\nX=2\n");
}

// A writer killed between making its temporary file and the rename leaves ".<name>.XXXXXX"
// behind; the next write that succeeds removes such leftovers, and nothing else: not a file
// of another name, not a link or folder of that name, not another user's file, and not the
// temporary file of a writer still at work (it holds a lock on it).
TEST(ProfileWrite, LaterWriteRemovesOnlyDeadTemporaryFiles) {
    TempDir dir;
    const std::string file = dir.File("KorvaTest.INI");
    WriteWholeFile(file, "[WINDOW]\nX=1\n");
    const std::string dead = dir.File(".KorvaTest.INI.a1B2c3");
    const std::string deadEmpty = dir.File(".KorvaTest.INI.Zz9Yy8");
    WriteWholeFile(dead, "[WINDOW]\nX=");  // cut short by the kill
    WriteWholeFile(deadEmpty, "");
    const std::vector<std::string> keep = {
        ".KorvaTest.INI.a1B2c",       // one character short
        ".KorvaTest.INI.a1B2c3d",     // one too many
        ".KorvaTest.INI.a1B2c3.bak",  // something of the user's
        ".KorvaTest.INI.a1-2c3",      // not a character of the pattern
        "KorvaTest.INI.a1B2c3",       // no leading dot
        ".korvatest.ini.a1B2c3",      // another file's (names are case-sensitive here)
        ".Other.INI.a1B2c3",
    };
    for (const std::string& name : keep) WriteWholeFile(dir.File(name), "mine");
    ASSERT_EQ(mkdir(dir.File(".KorvaTest.INI.dirDIR").c_str(), 0700), 0);
    WriteWholeFile(dir.File("target"), "linked");
    ASSERT_EQ(symlink("target", dir.File(".KorvaTest.INI.lnkLNK").c_str()), 0);

    // A live writer's temporary file, locked through its own descriptor.
    const std::string live = dir.File(".KorvaTest.INI.LiVe01");
    WriteWholeFile(live, "[WINDOW]\nX=5\n");
    int liveFd = open(live.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(liveFd, 0);
    ASSERT_EQ(flock(liveFd, LOCK_EX | LOCK_NB), 0);

    // Someone else's file of the pattern (only root can make one).
    const std::string foreign = dir.File(".KorvaTest.INI.OtHeR1");
    const bool asRoot = geteuid() == 0;
    if (asRoot) {
        WriteWholeFile(foreign, "theirs");
        ASSERT_EQ(chown(foreign.c_str(), 4321, 4321), 0);
    }

    // A write that changes nothing writes nothing, and so removes nothing.
    ASSERT_TRUE(WritePrivateProfileStringA("WINDOW", "X", "1", file.c_str()));
    EXPECT_TRUE(std::ifstream(dead).good());

    ASSERT_TRUE(WritePrivateProfileStringA("WINDOW", "X", "2", file.c_str()));
    EXPECT_EQ(ReadWholeFile(file), "[WINDOW]\nX=2\n");
    EXPECT_FALSE(std::ifstream(dead).good()) << "a dead writer's temporary file is still there";
    EXPECT_FALSE(std::ifstream(deadEmpty).good()) << "an empty leftover is still there";
    EXPECT_TRUE(std::ifstream(live).good()) << "a live writer's temporary file was removed";
    for (const std::string& name : keep)
        EXPECT_EQ(ReadWholeFile(dir.File(name)), "mine") << name;
    struct stat info {};
    EXPECT_EQ(lstat(dir.File(".KorvaTest.INI.dirDIR").c_str(), &info), 0);
    ASSERT_EQ(lstat(dir.File(".KorvaTest.INI.lnkLNK").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(ReadWholeFile(dir.File("target")), "linked");
    if (asRoot) {
        EXPECT_EQ(ReadWholeFile(foreign), "theirs");
    }

    // Once the writer is gone its file is a leftover like any other.
    close(liveFd);
    ASSERT_TRUE(WritePrivateProfileStringA("WINDOW", "X", "3", file.c_str()));
    EXPECT_FALSE(std::ifstream(live).good());
}

// Whatever cannot be written leaves the file exactly as it was and says why.
TEST(ProfileWrite, RefusedWritesReportAndLeaveTheFileAlone) {
    TempDir dir;
    const std::string file = dir.File("settings.ini");
    const std::string before = "[WINDOW]\nX=1\n";
    struct Case {
        const char* what;
        std::string path;
        const char* section;
        const char* key;
        const char* value;
        DWORD error;
    } cases[] = {
        {"read-only file", file, "WINDOW", "X", "2", ERROR_ACCESS_DENIED},
        {"path is a folder", dir.Path(), "WINDOW", "X", "2", ERROR_ACCESS_DENIED},
        {"folder missing", dir.File("no/such.ini"), "WINDOW", "X", "2", 3},
        {"line break in a value", file, "WINDOW", "X", "2\n[LAN]\nUSELAN=Y", ERROR_INVALID_PARAMETER},
        {"\"=\" in a key", file, "WINDOW", "X=Y", "2", ERROR_INVALID_PARAMETER},
        {"key that reads as a comment", file, "WINDOW", ";X", "2", ERROR_INVALID_PARAMETER},
        {"\"]\" in a section", file, "WIN]DOW", "X", "2", ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        WriteWholeFile(file, before);
        ASSERT_EQ(chmod(file.c_str(), c.error == ERROR_ACCESS_DENIED ? 0444 : 0644), 0);
        SetLastError(0);
        EXPECT_FALSE(WritePrivateProfileStringA(c.section, c.key, c.value, c.path.c_str())) << c.what;
        EXPECT_EQ(GetLastError(), c.error) << c.what;
        EXPECT_EQ(ReadWholeFile(file), before) << c.what;
        EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"settings.ini"}) << c.what;
    }
}

// Root may write into any folder, so the read-only folder is tried as an ordinary user.
TEST(ProfileWrite, ReadOnlyFolderIsRefused) {
    TempDir dir;
    const std::string file = dir.File("settings.ini");
    WriteWholeFile(file, "[WINDOW]\nX=1\n");
    ASSERT_EQ(chmod(file.c_str(), 0666), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0555), 0);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            if (!nobody || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(77);
        }
        SetLastError(0);
        BOOL ok = WritePrivateProfileStringA("WINDOW", "X", "2", file.c_str());
        _exit(!ok && GetLastError() == ERROR_ACCESS_DENIED ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot become an ordinary user here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "write into a read-only folder was not refused";
    EXPECT_EQ(ReadWholeFile(file), "[WINDOW]\nX=1\n");
    chmod(dir.Path().c_str(), 0700);
}

// Random writes and deletes, checked against what each entry should now read.
TEST(ProfileWrite, RoundTripsAgainstAModel) {
    TempDir dir;
    const std::string file = dir.File("settings.ini");
    WriteWholeFile(file, ReadWholeFile(Corpus + "plain.ini"));
    std::map<std::pair<std::string, std::string>, std::string> model = {
        {{"LAN", "USELAN"}, "N"}, {{"LAN", "KORVASERVER"}, "192.168.1.20"},
        {{"LAN", "KORVAPORT"}, "8002"}, {{"WINBORDER", "ACTIVE"}, "Y"},
        {{"WINDOW", "X"}, "1650"}, {{"WINDOW", "Y"}, "-20"},
        {{"WINSIZE", "WIDTH"}, "400"}, {{"WINSIZE", "HEIGHT"}, "400"},
    };
    const char* sections[] = {"LAN", "WINBORDER", "WINDOW", "WINSIZE", "EXTRA"};
    const char* keys[] = {"USELAN", "ACTIVE", "X", "Y", "WIDTH", "HEIGHT", "NEW"};
    std::mt19937 random(1234);
    for (int step = 0; step < 300; ++step) {
        std::string section = sections[random() % 5];
        std::string key = keys[random() % 7];
        int action = static_cast<int>(random() % 10);
        if (action == 0) {
            ASSERT_TRUE(WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, file.c_str()));
            for (auto it = model.begin(); it != model.end();)
                it = it->first.first == section ? model.erase(it) : std::next(it);
        } else if (action == 1) {
            ASSERT_TRUE(WritePrivateProfileStringA(section.c_str(), key.c_str(), nullptr, file.c_str()));
            model.erase({section, key});
        } else {
            std::string value = std::to_string(static_cast<int>(random() % 4000) - 2000);
            // Names in another case must find the same entry.
            std::string spelled = step % 3 ? key : std::string(1, static_cast<char>(key[0] + 32)) + key.substr(1);
            ASSERT_TRUE(WritePrivateProfileStringA(section.c_str(), spelled.c_str(), value.c_str(), file.c_str()));
            model[{section, key}] = value;
        }
        for (const char* s : sections)
            for (const char* k : keys) {
                auto it = model.find({s, k});
                ASSERT_EQ(Read(file, s, k), it == model.end() ? Default : it->second)
                    << "step " << step << " [" << s << "] " << k << "\n" << ReadWholeFile(file);
            }
    }
    // The user's opening comment survives everything.
    EXPECT_EQ(ReadWholeFile(file).rfind("; Bearing indicator settings\n", 0), 0u);
}

}  // namespace
