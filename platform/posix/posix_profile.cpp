// posix backend: the private-profile (INI) functions, reading files the way Windows does
// (users copy them between machines) and going to the file on every call, since others edit it.
// Unlike Windows, a write edits the file line by line and replaces it atomically; names and
// values that would not read back (line breaks, "=" in a key, "]" in a section) are refused,
// and a file without write permission is refused even for root. Null section/key lists names.
// A zero byte in the file ends the name or value it is in.
#include "platform/Profile.h"
#include "platform/System.h"
#include "platform/posix/posix_common.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Windows error numbers this file reports beyond those in WinTypes.h.
constexpr DWORD ErrorPathNotFound = 3;
constexpr DWORD ErrorWriteFault = 29;
constexpr DWORD ErrorDiskFull = 112;
constexpr DWORD ErrorFilenameTooLong = 206;

// A configuration file is a few hundred bytes; anything this large is a wrong path (a disk
// image, a device) and is treated as unreadable rather than read into memory.
constexpr std::size_t MaxFileSize = 16u << 20;

constexpr char ByteOrderMark[] = "\xEF\xBB\xBF";

DWORD WindowsError(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ErrorPathNotFound;
    case ENOSPC:
    case EDQUOT:
        return ErrorDiskFull;
    case ENAMETOOLONG:
        return ErrorFilenameTooLong;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return ERROR_ACCESS_DENIED;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ErrorWriteFault;
    }
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// A name as callers can ask for it: a zero byte ends it, as it ends the caller's string,
// so that every name the lists give finds its section or key again.
std::string_view NameIn(std::string_view text) {
    return Trim(text.substr(0, text.find('\0')));
}

bool SameName(std::string_view a, std::string_view b) {
    return posixcommon::EqualNoCase(a, b);
}

enum class Kind { Blank, Comment, Section, Key, Junk };

// One line of the file. Offsets index Profile::bytes.
struct Entry {
    Kind kind = Kind::Junk;
    std::size_t start = 0;       // first byte of the line
    std::size_t end = 0;         // end of its text, before the line end
    std::size_t next = 0;        // first byte of the following line
    std::string_view name;       // Section, Key: the name, blanks removed
    std::size_t valueBegin = 0;  // Key: the value's first byte after "=" and blanks
};

struct Profile {
    std::string bytes;
    std::size_t bomLength = 0;
    std::vector<Entry> entries;
};

Entry Classify(const std::string& bytes, std::size_t start, std::size_t end, std::size_t next) {
    Entry entry;
    entry.start = start;
    entry.end = end;
    entry.next = next;
    std::string_view line(bytes.data() + start, end - start);
    std::size_t i = 0;
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size()) {
        entry.kind = Kind::Blank;
    } else if (line[i] == ';') {
        entry.kind = Kind::Comment;
    } else if (line[i] == '[') {
        // Without its closing bracket a header opens no section; the line is skipped.
        std::size_t close = line.find(']', i + 1);
        if (close != std::string_view::npos) {
            entry.kind = Kind::Section;
            entry.name = NameIn(line.substr(i + 1, close - i - 1));
        }
    } else {
        // A key without "=" defines nothing; binary junk and overlong lines end up here too.
        std::size_t equals = line.find('=', i);
        if (equals != std::string_view::npos) {
            entry.kind = Kind::Key;
            entry.name = NameIn(line.substr(i, equals - i));
            std::size_t v = equals + 1;
            while (v < line.size() && IsBlank(line[v])) ++v;
            entry.valueBegin = start + v;
        }
    }
    return entry;
}

void Parse(Profile& profile) {
    const std::string& bytes = profile.bytes;
    profile.entries.clear();
    profile.bomLength = bytes.compare(0, 3, ByteOrderMark) == 0 ? 3 : 0;
    std::size_t pos = profile.bomLength;
    while (pos < bytes.size()) {
        std::size_t newline = bytes.find('\n', pos);
        std::size_t next = newline == std::string::npos ? bytes.size() : newline + 1;
        std::size_t end = newline == std::string::npos ? bytes.size() : newline;
        if (end > pos && bytes[end - 1] == '\r') --end;
        profile.entries.push_back(Classify(bytes, pos, end, next));
        pos = next;
    }
}

// Reads a regular file whole and parses it; errno tells why it failed.
posixcommon::ReadResult Load(const char* path, Profile& profile, struct stat& info) {
    posixcommon::ReadResult result = posixcommon::ReadWholeFile(path, MaxFileSize, profile.bytes, false, &info);
    if (result == posixcommon::ReadResult::Read) Parse(profile);
    return result;
}

// Index of the header of the first section so named, or entries.size().
std::size_t FindSection(const Profile& profile, std::string_view name) {
    for (std::size_t i = 0; i < profile.entries.size(); ++i) {
        const Entry& e = profile.entries[i];
        if (e.kind == Kind::Section && SameName(e.name, name)) return i;
    }
    return profile.entries.size();
}

// One past the last line of the section whose header is at index header.
std::size_t SectionEnd(const Profile& profile, std::size_t header) {
    std::size_t i = header + 1;
    while (i < profile.entries.size() && profile.entries[i].kind != Kind::Section) ++i;
    return i;
}

// Index of the first key so named in the section at header, or entries.size().
std::size_t FindKey(const Profile& profile, std::size_t header, std::string_view key) {
    std::size_t end = SectionEnd(profile, header);
    for (std::size_t i = header + 1; i < end; ++i) {
        const Entry& e = profile.entries[i];
        if (e.kind == Kind::Key && SameName(e.name, key)) return i;
    }
    return profile.entries.size();
}

// The value as a reader sees it: blanks removed, one pair of enclosing quotes removed,
// and cut at a zero byte.
std::string_view ValueOf(const Profile& profile, const Entry& entry) {
    std::string_view value = Trim(std::string_view(profile.bytes.data() + entry.valueBegin,
                                                   entry.end - entry.valueBegin));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    std::size_t zero = value.find('\0');
    if (zero != std::string_view::npos) value = value.substr(0, zero);
    return value;
}

// Copies text cut to size - 1 characters and zero-terminates it; returns the length copied.
DWORD CopyOut(std::string_view text, LPSTR buffer, DWORD size) {
    std::size_t length = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return static_cast<DWORD>(length);
}

// Names separated and ended by zero bytes, with one more zero at the end, as Windows lists
// them; when they do not fit, the list is cut and ended by two zeros and size - 2 returned.
DWORD CopyList(const std::vector<std::string_view>& names, LPSTR buffer, DWORD size) {
    std::string list;
    for (std::string_view name : names) {
        list.append(name.data(), name.size());
        list.push_back('\0');
    }
    if (list.size() + 1 <= size) {
        std::memcpy(buffer, list.data(), list.size());
        buffer[list.size()] = '\0';
        return static_cast<DWORD>(list.size());
    }
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    std::memcpy(buffer, list.data(), size - 2);
    buffer[size - 2] = '\0';
    buffer[size - 1] = '\0';
    return size - 2;
}

void AddUnique(std::vector<std::string_view>& names, std::string_view name) {
    for (std::string_view known : names)
        if (SameName(known, name)) return;
    names.push_back(name);
}

// The line end of the file's first line, so that added lines look like their neighbours.
std::string_view LineEndOf(const Profile& profile) {
    std::size_t newline = profile.bytes.find('\n');
    if (newline != std::string::npos && newline > 0 && profile.bytes[newline - 1] == '\r')
        return "\r\n";
    return "\n";
}

bool HasAny(std::string_view text, const char* characters) {
    return text.find_first_of(characters) != std::string_view::npos;
}

// Names and values that would be written into lines that read back differently.
bool Writable(std::string_view section, const char* key, const char* value) {
    if (HasAny(section, "\r\n]")) return false;
    if (key) {
        std::string_view name = Trim(key);
        if (HasAny(name, "\r\n=")) return false;
        if (!name.empty() && (name.front() == ';' || name.front() == '[')) return false;
    }
    if (value && HasAny(value, "\r\n")) return false;
    return true;
}

// What a write changes in the file's lines: lines dropped, one line replaced, and text
// inserted after one line (or at the very start).
struct Edit {
    std::vector<bool> drop;
    std::size_t replaced = SIZE_MAX;
    std::string replacement;
    std::size_t insertAfter = SIZE_MAX;  // SIZE_MAX - 1: at the very start
    std::string insertion;
};

constexpr std::size_t AtStart = SIZE_MAX - 1;

std::string Apply(const Profile& profile, const Edit& edit, std::string_view lineEnd) {
    const std::string& bytes = profile.bytes;
    std::string out = bytes.substr(0, profile.bomLength);
    auto insert = [&]() {
        // A last line without its line end gets one before anything follows it.
        if (out.size() > profile.bomLength && out.back() != '\n') out.append(lineEnd);
        out += edit.insertion;
    };
    if (edit.insertAfter == AtStart) insert();
    for (std::size_t i = 0; i < profile.entries.size(); ++i) {
        const Entry& e = profile.entries[i];
        if (i < edit.drop.size() && edit.drop[i]) {
            // keep nothing of this line
        } else if (i == edit.replaced) {
            out += edit.replacement;
        } else {
            out.append(bytes, e.start, e.next - e.start);
        }
        if (i == edit.insertAfter) insert();
    }
    return out;
}

// The new content of the file in out, or false when the call changes nothing.
bool EditProfile(const Profile& profile, std::string_view section, const char* key,
                 const char* value, std::string& out) {
    std::string_view lineEnd = LineEndOf(profile);
    const std::size_t count = profile.entries.size();
    const std::size_t header = FindSection(profile, section);
    Edit edit;

    if (!key) {
        // Delete every section of the name (a later one would otherwise show through), each
        // up to its last entry: trailing blank lines and comments usually introduce what
        // follows, so they stay.
        if (header == count) return false;
        edit.drop.assign(count, false);
        for (std::size_t h = header; h < count; ++h) {
            const Entry& e = profile.entries[h];
            if (e.kind != Kind::Section || !SameName(e.name, section)) continue;
            std::size_t end = SectionEnd(profile, h);
            std::size_t last = h;
            for (std::size_t i = h + 1; i < end; ++i)
                if (profile.entries[i].kind != Kind::Blank && profile.entries[i].kind != Kind::Comment)
                    last = i;
            for (std::size_t i = h; i <= last; ++i) edit.drop[i] = true;
        }
        out = Apply(profile, edit, lineEnd);
        return true;
    }

    std::string_view keyName = Trim(key);
    if (!value) {
        // Delete every copy of the key in the first section, so that the default reads next.
        if (header == count) return false;
        edit.drop.assign(count, false);
        bool any = false;
        std::size_t end = SectionEnd(profile, header);
        for (std::size_t i = header + 1; i < end; ++i) {
            const Entry& e = profile.entries[i];
            if (e.kind == Kind::Key && SameName(e.name, keyName)) edit.drop[i] = any = true;
        }
        if (!any) return false;
        out = Apply(profile, edit, lineEnd);
        return true;
    }

    std::string line;
    line.append(keyName.data(), keyName.size()).append("=").append(value).append(lineEnd);
    if (header == count) {
        // A new section at the end, set off by a blank line.
        if (!profile.entries.empty() && profile.entries.back().kind != Kind::Blank)
            edit.insertion.append(lineEnd);
        edit.insertion.append("[").append(section).append("]").append(lineEnd).append(line);
        edit.insertAfter = count == 0 ? AtStart : count - 1;
    } else {
        std::size_t found = FindKey(profile, header, keyName);
        if (found != count) {
            // The line keeps everything up to the value: indentation, the key's spelling,
            // the blanks around "=", and its line end.
            const Entry& e = profile.entries[found];
            edit.replaced = found;
            edit.replacement.assign(profile.bytes, e.start, e.valueBegin - e.start);
            edit.replacement.append(value);
            edit.replacement.append(profile.bytes, e.end, e.next - e.end);
            if (profile.bytes.compare(e.start, e.next - e.start, edit.replacement) == 0)
                return false;
        } else {
            std::size_t after = header;
            std::size_t end = SectionEnd(profile, header);
            for (std::size_t i = header + 1; i < end; ++i)
                if (profile.entries[i].kind == Kind::Key) after = i;
            edit.insertAfter = after;
            edit.insertion = line;
        }
    }
    out = Apply(profile, edit, lineEnd);
    return true;
}

// The file a path names, following symbolic links, so that a linked configuration file
// is edited where it lives and the link stays a link.
std::string RealTarget(const char* path) {
    char resolved[PATH_MAX];
    struct stat info;
    if (lstat(path, &info) == 0 && S_ISLNK(info.st_mode) && realpath(path, resolved))
        return resolved;
    return path;
}

mode_t CurrentUmask() {
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

}  // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                               LPSTR buffer, DWORD size, LPCSTR fileName) {
    if (!buffer || size == 0) return 0;
    buffer[0] = '\0';

    Profile profile;
    struct stat info;
    bool loaded = fileName && Load(fileName, profile, info) == posixcommon::ReadResult::Read;

    // A missing section or key asks for the names: every section, or every key of the section.
    if (!section || !key) {
        std::vector<std::string_view> names;
        if (loaded && !section) {
            for (const Entry& e : profile.entries)
                if (e.kind == Kind::Section) AddUnique(names, e.name);
        } else if (loaded) {
            std::size_t header = FindSection(profile, Trim(section));
            if (header != profile.entries.size()) {
                std::size_t end = SectionEnd(profile, header);
                for (std::size_t i = header + 1; i < end; ++i)
                    if (profile.entries[i].kind == Kind::Key) AddUnique(names, profile.entries[i].name);
            }
        }
        return CopyList(names, buffer, size);
    }

    if (loaded) {
        std::size_t header = FindSection(profile, Trim(section));
        if (header != profile.entries.size()) {
            std::size_t found = FindKey(profile, header, Trim(key));
            if (found != profile.entries.size())
                return CopyOut(ValueOf(profile, profile.entries[found]), buffer, size);
        }
    }

    // Windows drops trailing blanks of the default.
    std::string_view fallback = defaultValue ? defaultValue : "";
    while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);
    return CopyOut(fallback, buffer, size);
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName) {
    if (!fileName || !*fileName) return Fail(ERROR_INVALID_PARAMETER);
    if (!section) {
        // Windows flushes its cache for (NULL, NULL, NULL); there is no cache here.
        return (!key && !value) ? TRUE : Fail(ERROR_INVALID_PARAMETER);
    }
    std::string_view sectionName = Trim(section);
    if (!Writable(sectionName, key, value)) return Fail(ERROR_INVALID_PARAMETER);

    std::string path = RealTarget(fileName);
    Profile profile;
    struct stat info;
    posixcommon::ReadResult loaded = Load(path.c_str(), profile, info);
    if (loaded == posixcommon::ReadResult::Failed) return Fail(WindowsError(errno));
    bool exists = loaded == posixcommon::ReadResult::Read;

    std::string updated;
    if (!EditProfile(profile, sectionName, key, value, updated)) return TRUE;

    // The file's own write permission counts, as the read-only attribute does on Windows:
    // the rename below would otherwise replace a file that the user locked (or one that
    // belongs to someone else) as long as the folder is writable.
    if (exists && ((info.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0))
        return Fail(ERROR_ACCESS_DENIED);
    // A new file is made as the umask allows; an existing one keeps its mode and owner.
    posixcommon::Replacement how;
    how.mode = exists ? (info.st_mode & 07777) : (0666 & ~CurrentUmask());
    how.owner = exists ? &info : nullptr;
    if (!posixcommon::ReplaceFileAtomically(path, updated, how)) return Fail(WindowsError(errno));
    return TRUE;
}
