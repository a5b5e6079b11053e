// The configuration examples in the documentation, read the way the program reads them.
// Users copy these blocks into their files; the profile functions take everything after "="
// as the value (as Windows does), so a comment written after a value becomes part of it and
// quietly changes what the entry means. Every ```ini block of README.md and docs/*.md, and
// every sample INI file shipped with the sources, must read back as the example intends.
#include "base/Configuration.h"
#include "platform/Profile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

using testsupport::ReadWholeFile;
using testsupport::ScopedCurrentDirectory;
using testsupport::TempDir;
using testsupport::WriteWholeFile;

namespace {

namespace fs = std::filesystem;

const std::string Source = KORVA_SOURCE_DIR;

struct Example {
    std::string where;    // file and line, for the failure messages
    std::string heading;  // the nearest Markdown heading above the block
    std::string text;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The ```ini blocks of one Markdown file.
std::vector<Example> IniBlocks(const std::string& path, const std::string& shownAs) {
    std::vector<Example> blocks;
    std::vector<std::string> lines = Lines(ReadWholeFile(path));
    std::string heading;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("#", 0) == 0) heading = lines[i];
        if (lines[i] != "```ini") continue;
        Example block{shownAs + ":" + std::to_string(i + 1), heading, ""};
        for (++i; i < lines.size() && lines[i].rfind("```", 0) != 0; ++i) block.text += lines[i] + "\n";
        blocks.push_back(block);
    }
    return blocks;
}

// Every example: the Markdown blocks of the README and docs/, and sample INI files anywhere
// in the sources outside the build folders and the tests' own corpus of hostile files.
std::vector<Example> AllExamples() {
    std::vector<Example> examples = IniBlocks(Source + "/README.md", "README.md");
    std::vector<fs::path> docs;
    for (const auto& entry : fs::directory_iterator(Source + "/docs"))
        if (entry.path().extension() == ".md") docs.push_back(entry.path());
    std::sort(docs.begin(), docs.end());
    for (const fs::path& doc : docs) {
        std::vector<Example> more = IniBlocks(doc.string(), "docs/" + doc.filename().string());
        examples.insert(examples.end(), more.begin(), more.end());
    }
    fs::recursive_directory_iterator walk(Source), end;
    for (; walk != end; ++walk) {
        const fs::path& path = walk->path();
        std::string name = path.filename().string();
        if (walk->is_directory()) {
            std::string relative = fs::relative(path, Source).string();
            if (name[0] == '.' || relative == "tests" || fs::exists(path / "CMakeCache.txt") ||
                fs::exists(path / "etc/debian_version"))
                walk.disable_recursion_pending();
            continue;
        }
        if (walk->is_regular_file() && Lower(path.extension().string()) == ".ini")
            examples.push_back(Example{fs::relative(path, Source).string(), "", ReadWholeFile(path.string())});
    }
    return examples;
}

bool IsInteger(const std::string& text, bool allowSign) {
    std::size_t digits = allowSign && !text.empty() && text[0] == '-' ? 1 : 0;
    if (digits == text.size()) return false;
    return std::all_of(text.begin() + static_cast<long>(digits), text.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

bool IsHostName(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
    });
}

// What an entry of the example intends: the first word after "=", as a reader of the
// document takes it.
std::string Intended(const std::string& line) {
    std::size_t equals = line.find('=');
    std::size_t begin = line.find_first_not_of(" \t", equals + 1);
    if (begin == std::string::npos) return "";
    std::size_t end = line.find_first_of(" \t;", begin);
    return line.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

std::string Read(const std::string& file, const std::string& section, const std::string& key) {
    char buffer[2048];
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "<missing>", buffer, sizeof buffer, file.c_str());
    return buffer;
}

TEST(ConfigurationExamples, ReadBackAsTheyAreMeant) {
    std::vector<Example> examples = AllExamples();
    ASSERT_FALSE(examples.empty()) << "no ```ini block found in " << Source;
    const std::set<std::string> known = {"LAN/USELAN", "LAN/KORVASERVER", "LAN/KORVAPORT", "WINBORDER/ACTIVE",
                                         "WINDOW/X", "WINDOW/Y", "WINSIZE/WIDTH", "WINSIZE/HEIGHT"};
    TempDir dir;
    ScopedCurrentDirectory inDir(dir.Path());
    const std::string file = dir.File(config::FileName);
    for (const Example& example : examples) {
        SCOPED_TRACE(example.where);
        WriteWholeFile(file, example.text);
        std::string section;
        std::set<std::string> lan;
        int entries = 0;
        for (const std::string& line : Lines(example.text)) {
            std::size_t first = line.find_first_not_of(" \t");
            if (first == std::string::npos || line[first] == ';') continue;
            if (line[first] == '[') {
                section = line.substr(first + 1, line.find(']') - first - 1);
                continue;
            }
            std::size_t equals = line.find('=');
            ASSERT_NE(equals, std::string::npos) << "not an entry: " << line;
            std::string key = line.substr(first, line.find_last_not_of(" \t", equals - 1) + 1 - first);
            std::string name = section + "/" + key;
            EXPECT_TRUE(known.count(name)) << "no such entry: " << name;
            ++entries;

            // What the program gets must be exactly what the example shows.
            std::string value = Read(file, section, key);
            EXPECT_EQ(value, Intended(line)) << name << " reads as \"" << value << "\" from: " << line;
            bool wellFormed = true;
            if (name == "LAN/USELAN" || name == "WINBORDER/ACTIVE")
                wellFormed = value == "Y" || value == "N";
            else if (name == "LAN/KORVAPORT")
                wellFormed = IsInteger(value, false) && std::atol(value.c_str()) >= 1 &&
                             std::atol(value.c_str()) <= 65535;
            else if (name == "LAN/KORVASERVER")
                wellFormed = IsHostName(value);
            else if (name == "WINDOW/X" || name == "WINDOW/Y")
                wellFormed = IsInteger(value, true);
            else if (name == "WINSIZE/WIDTH" || name == "WINSIZE/HEIGHT")
                wellFormed = IsInteger(value, false);
            EXPECT_TRUE(wellFormed) << name << " = \"" << value << "\"";
            if (section == "LAN" && !value.empty()) lan.insert(key);
        }
        EXPECT_GT(entries, 0) << "an example without entries";

        // And the program, reading the example at start-up, is in the mode the example is for.
        ASSERT_NO_THROW(ReadConfiguration()) << example.text;
        bool meantForNetwork = Read(file, "LAN", "USELAN") == "Y" && lan.size() == 3;
        EXPECT_EQ(NetworkMode, meantForNetwork);
        std::string heading = Lower(example.heading);
        if (heading.find("network mode") != std::string::npos) {
            EXPECT_TRUE(NetworkMode) << example.heading;
        }
        if (heading.find("fsuipc mode") != std::string::npos) {
            EXPECT_FALSE(NetworkMode) << example.heading;
        }
        std::string active = Read(file, "WINBORDER", "ACTIVE");
        if (active != "<missing>") {
            EXPECT_EQ(Borderless, active != "Y");
        }
    }
}

}  // namespace
