// posix backend: global atoms for the link, standing in for kernel32's GlobalAddAtomA and
// its neighbours. The atoms live in a per-user table file that every process of the user
// reads; unlike Windows, every reference records the process that took it, so references of
// crashed processes fade instead of keeping an atom for ever. Format: docs/link-transport.md.
#include "platform/Link.h"
#include "platform/System.h"
#include "platform/posix/posix_common.h"
#include "platform/posix/posix_link_transport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

using namespace linktransport;

namespace {

constexpr std::size_t MaxAtomName = 255;
constexpr ATOM FirstStringAtom = 0xC000;
constexpr std::size_t MaxTableBytes = 4 << 20;
constexpr char TableHeader[] = "korva-atoms 1";

struct Holder {
    std::uint32_t pid;
    std::uint64_t start;
};

struct AtomEntry {
    ATOM atom;
    std::vector<Holder> holders;
    std::string name;
};

bool SameName(const std::string& a, const char* b) {
    return posixcommon::EqualNoCase(a, b);
}

bool ValidAtomName(const char* name) {
    if (!name || !*name) return false;
    std::size_t length = std::strlen(name);
    return length <= MaxAtomName && !std::strpbrk(name, "\r\n");
}

// Parses "pid.start"; false for anything else.
bool ParseHolder(const std::string& text, Holder& holder) {
    char* end = nullptr;
    errno = 0;
    unsigned long long pid = std::strtoull(text.c_str(), &end, 10);
    if (errno || end == text.c_str() || *end != '.' || pid == 0 || pid > 0x7FFFFFFF) return false;
    const char* startText = end + 1;
    unsigned long long start = std::strtoull(startText, &end, 10);
    if (errno || end == startText || *end) return false;
    holder = Holder{static_cast<std::uint32_t>(pid), start};
    return true;
}

// Reads the table; lines that do not parse are skipped, so a damaged file costs only them.
std::vector<AtomEntry> LoadAtoms(const std::string& folder) {
    std::vector<AtomEntry> entries;
    std::string text;
    if (posixcommon::ReadWholeFile((folder + "/atoms").c_str(), MaxTableBytes, text, true) !=
        posixcommon::ReadResult::Read)
        return entries;
    std::set<ATOM> seen;
    std::size_t at = 0;
    bool first = true;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();  // an unfinished last line is dropped below
        std::string line = text.substr(at, end - at);
        bool complete = end < text.size();
        at = end + 1;
        if (first) {
            first = false;
            if (line == TableHeader) continue;
        }
        if (!complete) break;
        // "XXXX holders name": four hex digits, a blank, holders, a blank, the name.
        if (line.size() < 8 || line[4] != ' ') continue;
        unsigned value = 0;
        bool hex = true;
        for (int i = 0; i < 4 && hex; ++i) {
            char c = line[i];
            int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            hex = digit >= 0;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        if (!hex || value < FirstStringAtom) continue;
        std::size_t gap = line.find(' ', 5);
        if (gap == std::string::npos) continue;
        AtomEntry entry{static_cast<ATOM>(value), {}, line.substr(gap + 1)};
        // A zero byte would hide the rest of the name from every caller, and make the length
        // GlobalGetAtomNameA reports disagree with the text it copies.
        if (entry.name.find('\0') != std::string::npos || !ValidAtomName(entry.name.c_str())) continue;
        std::string holders = line.substr(5, gap - 5);
        bool good = true;
        for (std::size_t from = 0; from <= holders.size() && good;) {
            std::size_t comma = holders.find(',', from);
            if (comma == std::string::npos) comma = holders.size();
            Holder holder;
            good = ParseHolder(holders.substr(from, comma - from), holder);
            if (good) entry.holders.push_back(holder);
            from = comma + 1;
        }
        if (!good || entry.holders.empty() || !seen.insert(entry.atom).second) continue;
        entries.push_back(std::move(entry));
    }
    return entries;
}

// Writes the table to a new file and puts it in place in one step.
bool SaveAtoms(const std::string& folder, const std::vector<AtomEntry>& entries) {
    std::string text = std::string(TableHeader) + "\n";
    for (const AtomEntry& entry : entries) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04X ", entry.atom);
        text += hex;
        for (std::size_t i = 0; i < entry.holders.size(); ++i) {
            if (i) text += ',';
            text += std::to_string(entry.holders[i].pid) + "." + std::to_string(entry.holders[i].start);
        }
        text += ' ';
        text += entry.name;
        text += '\n';
    }
    posixcommon::Replacement how;
    how.temporary = folder + "/atoms.tmp";
    return posixcommon::ReplaceFileAtomically(folder + "/atoms", text, how);
}

// Drops references of processes that are gone, then atoms nobody holds.
bool PruneAtoms(std::vector<AtomEntry>& entries) {
    bool changed = false;
    for (AtomEntry& entry : entries) {
        auto dead = std::remove_if(entry.holders.begin(), entry.holders.end(),
                                   [](const Holder& h) { return !ProcessAlive(h.pid, h.start); });
        if (dead != entry.holders.end()) {
            entry.holders.erase(dead, entry.holders.end());
            changed = true;
        }
    }
    auto empty = std::remove_if(entries.begin(), entries.end(), [](const AtomEntry& e) { return e.holders.empty(); });
    if (empty != entries.end()) changed = true;
    entries.erase(empty, entries.end());
    return changed;
}

Holder Self() {
    static const Holder self{GetCurrentProcessId(), ProcessStartTime(GetCurrentProcessId())};
    // A forked child has another pid than the one remembered.
    if (self.pid != GetCurrentProcessId()) return Holder{GetCurrentProcessId(), ProcessStartTime(GetCurrentProcessId())};
    return self;
}

bool HasLiveHolder(const AtomEntry& entry) {
    return std::any_of(entry.holders.begin(), entry.holders.end(),
                       [](const Holder& h) { return ProcessAlive(h.pid, h.start); });
}

}  // namespace

ATOM GlobalAddAtomA(LPCSTR name) {
    if (!ValidAtomName(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string folder;
    if (!LinkDirectory(folder)) return 0;
    FolderLock lock(folder);
    if (!lock.Held()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    std::vector<AtomEntry> entries = LoadAtoms(folder);
    PruneAtoms(entries);
    ATOM atom = 0;
    for (AtomEntry& entry : entries) {
        if (SameName(entry.name, name)) {
            entry.holders.push_back(Self());
            atom = entry.atom;
            break;
        }
    }
    if (!atom) {
        std::set<ATOM> used;
        for (const AtomEntry& entry : entries) used.insert(entry.atom);
        for (unsigned candidate = FirstStringAtom; candidate <= 0xFFFF; ++candidate) {
            if (!used.count(static_cast<ATOM>(candidate))) {
                atom = static_cast<ATOM>(candidate);
                break;
            }
        }
        if (!atom) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        entries.push_back(AtomEntry{atom, {Self()}, name});
    }
    if (!SaveAtoms(folder, entries)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    SetLastError(ERROR_SUCCESS);
    return atom;
}

ATOM GlobalDeleteAtom(ATOM atom) {
    if (atom < FirstStringAtom) return 0;  // integer atoms are not stored
    std::string folder;
    if (!LinkDirectory(folder)) return atom;
    FolderLock lock(folder);
    std::vector<AtomEntry> entries = LoadAtoms(folder);
    bool changed = PruneAtoms(entries);
    auto entry = std::find_if(entries.begin(), entries.end(), [atom](const AtomEntry& e) { return e.atom == atom; });
    if (entry == entries.end()) {
        if (changed) SaveAtoms(folder, entries);
        SetLastError(ERROR_INVALID_HANDLE);
        return atom;
    }
    // Drop one of our own references if we have one, else anyone's, as Windows counts them.
    Holder self = Self();
    auto mine = std::find_if(entry->holders.begin(), entry->holders.end(),
                             [&self](const Holder& h) { return h.pid == self.pid && h.start == self.start; });
    entry->holders.erase(mine != entry->holders.end() ? mine : entry->holders.begin());
    if (entry->holders.empty()) entries.erase(entry);
    if (!SaveAtoms(folder, entries)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return atom;
    }
    return 0;
}

UINT GlobalGetAtomNameA(ATOM atom, LPSTR buffer, int size) {
    if (!buffer || size <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    buffer[0] = '\0';
    std::string folder;
    if (!LinkDirectory(folder)) return 0;
    // The table is replaced in one step, so reading needs no lock.
    for (const AtomEntry& entry : LoadAtoms(folder)) {
        if (entry.atom != atom || !HasLiveHolder(entry)) continue;
        std::size_t length = std::min(entry.name.size(), static_cast<std::size_t>(size - 1));
        std::memcpy(buffer, entry.name.data(), length);
        buffer[length] = '\0';
        SetLastError(ERROR_SUCCESS);
        return static_cast<UINT>(length);
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
}

ATOM GlobalFindAtomA(LPCSTR name) {
    if (!ValidAtomName(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string folder;
    if (!LinkDirectory(folder)) return 0;
    for (const AtomEntry& entry : LoadAtoms(folder)) {
        if (SameName(entry.name, name) && HasLiveHolder(entry)) {
            SetLastError(ERROR_SUCCESS);
            return entry.atom;
        }
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
}
