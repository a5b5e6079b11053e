// Fuzz target: the private-profile (INI) functions on a file whose content is the input.
// Lists the sections and their keys, reads every value (also into buffers too small for it),
// then edits the file and checks that a written value reads back, a deleted key or section is
// gone, a refused name changes nothing, and no other value moved.
#include "platform/Profile.h"
#include "FuzzSupport.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t MaxSections = 4;
constexpr std::size_t MaxKeys = 4;
const char Default[] = "<default>";

const std::string& ProfilePath() {
    static const std::string path = fuzzsupport::ScratchFolder() + "/fuzz.ini";
    return path;
}

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "profile finding: %s\n", what);
    std::abort();
}

// A read through a heap buffer of exactly size bytes, so that AddressSanitizer sees overruns.
// Also checks the returned length against the terminating zero.
std::string Read(const char* section, const char* key, DWORD size) {
    std::vector<char> buffer(size);
    DWORD length = GetPrivateProfileStringA(section, key, Default, buffer.data(), size, ProfilePath().c_str());
    Check(length < size || size == 0, "length beyond the buffer");
    if (size == 0) return {};
    if (!section || !key) {
        // A list ends with two zeros: the last name's and one more (an empty list has one);
        // a list cut short ends with two zeros after the returned length.
        Check(buffer[length] == '\0', "list not terminated");
        if (length > 0)
            Check(buffer[length - 1] == '\0' || (length + 1 < size && buffer[length + 1] == '\0'),
                  "list not ended by two zeros");
    } else {
        Check(buffer[length] == '\0', "value not terminated");
        Check(std::strlen(buffer.data()) == length, "length and text disagree");
    }
    return std::string(buffer.data(), length);
}

std::vector<std::string> Names(const std::string& list) {
    std::vector<std::string> names;
    std::size_t at = 0;
    while (at < list.size()) {
        std::size_t zero = list.find('\0', at);
        if (zero == std::string::npos) zero = list.size();
        names.push_back(list.substr(at, zero - at));
        at = zero + 1;
    }
    return names;
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x -= 32;
        if (y >= 'a' && y <= 'z') y -= 32;
        if (x != y) return false;
    }
    return true;
}

bool HasAny(const std::string& text, const char* characters) {
    return text.find_first_of(characters) != std::string::npos;
}

// What a reader gets back for a written value: blanks around it removed, one pair of
// enclosing quotes removed.
std::string AsRead(const std::string& value) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
    std::size_t begin = 0, end = value.size();
    while (begin < end && blank(value[begin])) ++begin;
    while (end > begin && blank(value[end - 1])) --end;
    std::string text = value.substr(begin, end - begin);
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front())
        text = text.substr(1, text.size() - 2);
    return text;
}

struct Value {
    std::string section, key, text;
};

std::vector<std::string> Sections(DWORD size) {
    std::vector<std::string> sections = Names(Read(nullptr, nullptr, size));
    if (sections.size() > MaxSections) sections.resize(MaxSections);
    return sections;
}

// Every value of the first keys of the first sections.
std::vector<Value> Snapshot(DWORD size) {
    std::vector<Value> values;
    for (const std::string& section : Sections(size)) {
        std::vector<std::string> keys = Names(Read(section.c_str(), nullptr, size));
        if (keys.size() > MaxKeys) keys.resize(MaxKeys);
        for (const std::string& key : keys)
            values.push_back(Value{section, key, Read(section.c_str(), key.c_str(), size)});
    }
    return values;
}

// Every value of before, except those of the key (or whole section) just changed, still reads.
void Unchanged(const std::vector<Value>& before, const std::string& section, const char* key, DWORD size) {
    for (const Value& v : before) {
        if (SameName(v.section, section) && (!key || SameName(v.key, key))) continue;
        Check(Read(v.section.c_str(), v.key.c_str(), size) == v.text, "an edit changed another value");
    }
}

void WriteInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(ProfilePath().c_str(), "wb");
    if (!file) std::abort();
    if (size) std::fwrite(data, 1, size, file);
    std::fclose(file);
}

std::string ReadBack() {
    return testsupport::ReadWholeFile(ProfilePath());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    WriteInput(data, size);
    const DWORD big = static_cast<DWORD>(size + 64);

    // Lists and values into buffers of every small size and one that fits.
    for (DWORD small : {1u, 2u, 3u, 7u}) {
        Read(nullptr, nullptr, small);
        std::vector<std::string> sections = Sections(big);
        if (!sections.empty()) {
            Read(sections[0].c_str(), nullptr, small);
            std::vector<std::string> keys = Names(Read(sections[0].c_str(), nullptr, big));
            if (!keys.empty()) {
                std::string whole = Read(sections[0].c_str(), keys[0].c_str(), big);
                std::string cut = Read(sections[0].c_str(), keys[0].c_str(), small);
                Check(whole.compare(0, cut.size(), cut) == 0 && cut.size() == std::min<std::size_t>(whole.size(), small - 1),
                      "a short buffer got other text than the value's start");
            }
        }
    }
    Read("no such section", "no such key", big);

    // A value for the edits, made from the input's last bytes.
    std::string value;
    for (std::size_t i = size > 12 ? size - 12 : 0; i < size; ++i)
        if (data[i] != '\0') value.push_back(static_cast<char>(data[i]));
    const bool valueWritable = !HasAny(value, "\r\n");

    std::vector<std::string> sections = Sections(big);
    std::string section = sections.empty() ? "Fuzz" : sections[0];
    std::vector<std::string> keys = Names(Read(section.c_str(), nullptr, big));
    std::string key = keys.empty() ? "FuzzKey" : keys[0];
    const bool nameWritable = !HasAny(section, "\r\n]") && !HasAny(key, "\r\n");

    // Replace (or add) a value, and add a key and a section that were not there.
    const std::pair<std::string, std::string> writes[] = {
        {section, key}, {section, "Added Key"}, {"Added Section", "Key"}};
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string& s = writes[i].first;
        const std::string& k = writes[i].second;
        const bool writable = valueWritable && (i == 0 ? nameWritable : !HasAny(s, "\r\n]"));
        std::string original = ReadBack();
        std::vector<Value> now = Snapshot(big);
        BOOL written = WritePrivateProfileStringA(s.c_str(), k.c_str(), value.c_str(), ProfilePath().c_str());
        if (!writable) {
            Check(!written, "a name or value that cannot read back was written");
            Check(ReadBack() == original, "a refused write changed the file");
            continue;
        }
        Check(written, "a write failed");
        Check(Read(s.c_str(), k.c_str(), big) == AsRead(value), "a written value does not read back");
        Unchanged(now, s, k.c_str(), big);
    }

    // Delete the key: the default reads. Delete the section: it is no longer listed.
    if (nameWritable) {
        std::vector<Value> now = Snapshot(big);
        Check(WritePrivateProfileStringA(section.c_str(), key.c_str(), nullptr, ProfilePath().c_str()),
              "deleting a key failed");
        Check(Read(section.c_str(), key.c_str(), big) == Default, "a deleted key still reads");
        Unchanged(now, section, key.c_str(), big);

        now = Snapshot(big);
        Check(WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, ProfilePath().c_str()),
              "deleting a section failed");
        for (const std::string& left : Names(Read(nullptr, nullptr, big)))
            Check(!SameName(left, section), "a deleted section is still listed");
        Unchanged(now, section, nullptr, big);
    }
    return 0;
}
