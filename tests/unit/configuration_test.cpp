// The configuration file as the program sees it (real files in a temporary current
// directory), and the runtime's text conversions it and the value requests rely on.
#include "base/Configuration.h"
#include "base/Runtime.h"
#include "platform/System.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <clocale>
#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

using testsupport::ReadWholeFile;
using testsupport::RealPath;
using testsupport::SetEnvironment;
using testsupport::ScopedCurrentDirectory;
using testsupport::TempDir;
using testsupport::WriteWholeFile;

namespace {

// The file's text with the platform's line ends made "\n" (Windows writes "\r\n").
std::string FileLines(const std::string& path) {
    std::string text = ReadWholeFile(path);
    std::string lines;
    for (char c : text)
        if (c != '\r') lines += c;
    return lines;
}

struct StartCase {
    const char* what;
    const char* file;  // nullptr: no configuration file at all
    bool network;
    std::string server, port;
    bool borderless;
    int x, y, width, height;
};

TEST(Configuration, StartUpSettingsFromTheFile) {
    const StartCase cases[] = {
        {"all three LAN entries", "[LAN]\nUSELAN=Y\nKORVASERVER= fsbox \nKORVAPORT=8002\n",
         true, "fsbox", "8002", false, 0, 0, 400, 400},
        // Runs right after network mode was on: nothing of it may stay.
        {"no file", nullptr, false, "", "", false, 0, 0, 400, 400},
        {"small y", "[LAN]\nUSELAN=y\nKORVASERVER=fsbox\nKORVAPORT=8002\n",
         false, "fsbox", "8002", false, 0, 0, 400, 400},
        {"Yes is not Y", "[LAN]\nUSELAN=Yes\nKORVASERVER=fsbox\nKORVAPORT=8002\n",
         false, "fsbox", "8002", false, 0, 0, 400, 400},
        {"blank server", "[LAN]\nUSELAN=Y\nKORVASERVER=   \nKORVAPORT=8002\n",
         false, "", "8002", false, 0, 0, 400, 400},
        {"quoted blank port", "[LAN]\nUSELAN=Y\nKORVASERVER=fsbox\nKORVAPORT=\" \t\"\n",
         false, "fsbox", "", false, 0, 0, 400, 400},
        {"framed with blanks around Y", "[WINBORDER]\nACTIVE=\"  Y \"\n",
         false, "", "", false, 0, 0, 400, 400},
        {"ACTIVE N", "[WINBORDER]\nACTIVE=N\n", false, "", "", true, 0, 0, 400, 400},
        {"ACTIVE empty", "[WINBORDER]\nACTIVE=\n", false, "", "", true, 0, 0, 400, 400},
        {"ACTIVE small y", "[winborder]\nactive=y\n", false, "", "", true, 0, 0, 400, 400},
        {"off the screen, any size, names in any case",
         "[window]\r\nx=-20\r\nY = 5\r\n[WinSize]\r\nWIDTH=0\r\nheight=-1\r\n",
         false, "", "", false, -20, 5, 0, -1},
    };
    TempDir dir;
    ScopedCurrentDirectory inDir(dir.Path());
    const std::string file = RealPath(dir.Path()) + PathDelimiter + "KORVAVorAdf.INI";
    for (const StartCase& c : cases) {
        std::remove(file.c_str());
        if (c.file) WriteWholeFile(file, c.file);
        ReadConfiguration();
        EXPECT_EQ(ConfigFile, file) << c.what;
        EXPECT_EQ(NetworkMode, c.network) << c.what;
        EXPECT_EQ(ServerAddress, c.server) << c.what;
        EXPECT_EQ(ServerPort, c.port) << c.what;
        EXPECT_EQ(Borderless, c.borderless) << c.what;
        EXPECT_EQ(WindowX, c.x) << c.what;
        EXPECT_EQ(WindowY, c.y) << c.what;
        EXPECT_EQ(WindowWidth, c.width) << c.what;
        EXPECT_EQ(WindowHeight, c.height) << c.what;
        if (!c.file) {
            EXPECT_FALSE(std::ifstream(file).good()) << "reading created the file";
        }
    }
}

TEST(Configuration, PlacementThatIsNoWholeNumberEndsStartUp) {
    const struct {
        const char* file;
        const char* message;
    } cases[] = {
        {"[WINSIZE]\nWIDTH=abc\n", "'abc' is not a valid integer value"},
        {"[WINSIZE]\nHEIGHT=\n", "'' is not a valid integer value"},
        {"[WINDOW]\nX= 12 px \n", "'12 px' is not a valid integer value"},
        {"[WINDOW]\nY=2147483648\n", "'2147483648' is not a valid integer value"},
    };
    TempDir dir;
    ScopedCurrentDirectory inDir(dir.Path());
    for (const auto& c : cases) {
        WriteWholeFile(dir.File(config::FileName), c.file);
        try {
            ReadConfiguration();
            ADD_FAILURE() << "no error for " << c.file;
        } catch (const ConversionError& error) {
            EXPECT_STREQ(error.what(), c.message);
        }
    }
}

TEST(Configuration, WritesCreateTheFileWithPlainDecimals) {
    TempDir dir;
    ScopedCurrentDirectory inDir(dir.Path());
    ReadConfiguration();
    WriteConfigInteger(config::SectionWindow, config::KeyX, -20);
    WriteConfigInteger(config::SectionWindow, config::KeyY, 0);
    EXPECT_EQ(FileLines(ConfigFile), "[WINDOW]\nX=-20\nY=0\n");

    // A step reads the entry back, changes it by one and stores it again.
    int x = ReadConfigInteger(config::SectionWindow, config::KeyX, config::DefaultPosition);
    WriteConfigInteger(config::SectionWindow, config::KeyX, x + 1);
    WriteConfigInteger(config::SectionSize, config::KeyWidth, 401);
    ReadPlacement();
    EXPECT_EQ(WindowX, -19);
    EXPECT_EQ(WindowWidth, 401);
    EXPECT_EQ(WindowHeight, 400);

    // Values are read into 2048 characters, so longer ones arrive cut.
    WriteConfigEntry(config::SectionLan, config::KeyServer, std::string(3000, 'h'));
    EXPECT_EQ(ReadConfigEntry(config::SectionLan, config::KeyServer, ""), std::string(2047, 'h'));
}

TEST(Configuration, UnwritableFileIsAFileError) {
    TempDir dir;
    ScopedCurrentDirectory inDir(dir.Path());
    ReadConfiguration();
    WriteWholeFile(ConfigFile, "[WINDOW]\nX=1\n");
    ASSERT_EQ(chmod(ConfigFile.c_str(), 0444), 0);
    try {
        WriteConfigInteger(config::SectionWindow, config::KeyX, 2);
        // Wine run by root maps "read-only" to a mode root may ignore; nothing to check then.
        if (std::FILE* writable = std::fopen(ConfigFile.c_str(), "r+")) {
            std::fclose(writable);
            GTEST_SKIP() << "this user may write read-only files";
        }
        ADD_FAILURE() << "writing a read-only file raised nothing";
    } catch (const FileError& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to write to " + RealPath(dir.Path()) + PathDelimiter + "KORVAVorAdf.INI");
    }
    EXPECT_EQ(FileLines(ConfigFile), "[WINDOW]\nX=1\n");
}

// ---- the runtime's conversions ----

TEST(Runtime, TrimTextRemovesCodesUpTo32Only) {
    EXPECT_EQ(TrimText(std::string("\0\t\r\n Y \x1f\x20", 8)), "Y");
    EXPECT_EQ(TrimText("\xA0Y\xFF"), "\xA0Y\xFF");  // high bytes are text, not blanks
    EXPECT_EQ(TrimText(" \x01 "), "");
}

TEST(Runtime, StrToIntTakesSignAndDecimalDigitsWithinRange) {
    const struct {
        const char* text;
        int value;
    } good[] = {{"0", 0}, {"+5", 5}, {"-20", -20}, {"007", 7}, {"-0", 0},
                {"2147483647", INT_MAX}, {"-2147483648", INT_MIN}};
    for (const auto& c : good) EXPECT_EQ(StrToInt(c.text), c.value) << c.text;

    const char* bad[] = {"", "+", "-", " 1", "1 ", "2147483648", "-2147483649",
                         "99999999999999999999", "0x10", "$10", "1e5", "12.0", "1,000", "--1"};
    for (const char* text : bad) {
        try {
            StrToInt(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const ConversionError& error) {
            EXPECT_EQ(std::string(error.what()), "'" + std::string(text) + "' is not a valid integer value");
        }
    }
}

// With the point as separator, as in a process whose settings name none.
TEST(Runtime, StrToFloatFollowsTheReplyGrammar) {
    if (DecimalSeparator() != '.') GTEST_SKIP() << "the user's settings name another separator";
    const struct {
        const char* text;
        double value;
    } good[] = {{"359", 359}, {"  12.5  ", 12.5}, {"-0.25", -0.25}, {"+3", 3},
                {"1e5", 1e5}, {"2.5E-2", 0.025}, {"7E+1", 70}};
    for (const auto& c : good) EXPECT_DOUBLE_EQ(StrToFloat(c.text), c.value) << c.text;

    const char* bad[] = {"", " ", "12,5", "abc", "1e", "1e+", "- 1", "1.2.3", "0x1A", "inf", "nan", ".5", "\t1"};
    for (const char* text : bad) {
        try {
            StrToFloat(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const ConversionError& error) {
            EXPECT_EQ(std::string(error.what()), "'" + std::string(text) + "' is not a valid floating point value");
        }
    }
}

// Texts up to 64 characters are quoted whole, as configuration entries are; longer ones (a
// server's megabyte of nonsense) by their start and length, so the message stays readable.
TEST(Runtime, ConversionErrorsQuoteLongTextsShort) {
    const std::string start(64, '9');
    const struct {
        std::string text;
        std::string quoted;
    } cases[] = {
        {start + "x", start + "... (65 bytes)"},
        {start.substr(0, 63) + "x", start.substr(0, 63) + "x"},
        {std::string(100000, 'a'), std::string(64, 'a') + "... (100000 bytes)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.size());
        try {
            StrToInt(c.text);
            ADD_FAILURE() << "accepted as integer";
        } catch (const ConversionError& error) {
            EXPECT_EQ(std::string(error.what()), "'" + c.quoted + "' is not a valid integer value");
        }
        try {
            StrToFloat(c.text);
            ADD_FAILURE() << "accepted as floating point";
        } catch (const ConversionError& error) {
            EXPECT_EQ(std::string(error.what()), "'" + c.quoted + "' is not a valid floating point value");
        }
    }
}

bool LocaleAvailable(const char* name) {
    std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    bool ok = std::setlocale(LC_NUMERIC, name) != nullptr;
    std::setlocale(LC_NUMERIC, previous.c_str());
    return ok;
}

// The separator is taken once per process, so the comma is tried in a fresh one.
TEST(Runtime, StrToFloatUsesACommaWhenTheUserSettingsSaySo) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* german = "de_DE.UTF-8";
    TempDir locales;
    if (!LocaleAvailable(german)) {
        std::string command = "localedef -i de_DE -f UTF-8 " + locales.Path() + "/" + german +
                              " >/dev/null 2>&1";
        if (std::system(command.c_str()) == -1) {
        }
        SetEnvironment("LOCPATH", locales.Path());
        if (!LocaleAvailable(german)) {
            SetEnvironment("LOCPATH", "");
            GTEST_SKIP() << "no German locale and none can be made (package locales)";
        }
    }
    const char* saved = std::getenv("LC_ALL");
    std::string previous = saved ? saved : "";
    SetEnvironment("LC_ALL", german);
    EXPECT_EXIT(
        {
            int faults = 0;
            try {
                if (StrToFloat("12,5") != 12.5) faults |= 1;
            } catch (const ConversionError&) {
                faults |= 2;
            }
            try {
                StrToFloat("12.5");
                faults |= 4;
            } catch (const ConversionError&) {
            }
            std::exit(faults);
        },
        ::testing::ExitedWithCode(0), "");
    if (saved)
        SetEnvironment("LC_ALL", previous);
    else
        SetEnvironment("LC_ALL", "");
}

}  // namespace
