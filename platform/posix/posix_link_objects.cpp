// posix backend: global atoms and named shared memory for the link, standing in for
// kernel32's atom and file-mapping calls. Atoms live in a per-user table file; every
// reference records the process that took it, so references of crashed processes fade.
// Shared memory is POSIX shm with one header page naming its creator, so a name left by a
// crashed process is recognised and replaced. See docs/link-transport.md for the formats.
#include "platform/Link.h"
#include "platform/System.h"
#include "platform/posix/LinkServer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace linktransport;

namespace {

constexpr std::size_t MaxAtomName = 255;
constexpr ATOM FirstStringAtom = 0xC000;
constexpr std::size_t MaxTableBytes = 4 << 20;
constexpr char TableHeader[] = "korva-atoms 1";
// Large enough for any block the link uses, small enough that a bad size cannot exhaust memory.
constexpr std::uint64_t MaxMappingSize = 256u << 20;

// The folder-wide lock that serialises changes to the atom table and to shm names.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder) {
        fd_ = open((folder + "/link.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ >= 0) {
            while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) close(fd_);
    }
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

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
    std::size_t length = std::strlen(b);
    if (a.size() != length) return false;
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
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
    int fd = open((folder + "/atoms").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return entries;
    std::string text;
    char buffer[8192];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > MaxTableBytes) break;
    }
    close(fd);
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
        if (!ValidAtomName(entry.name.c_str())) continue;
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
    std::string temporary = folder + "/atoms.tmp";
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    std::size_t written = 0;
    while (written < text.size()) {
        ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    bool good = written == text.size();
    good = close(fd) == 0 && good;
    if (good) good = rename(temporary.c_str(), (folder + "/atoms").c_str()) == 0;
    if (!good) unlink(temporary.c_str());
    return good;
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

// --- named shared memory ---------------------------------------------------------------

namespace {

struct MappingObject {
    int fd;
    std::string shmName;
    std::uint64_t dataSize;
    bool writable;
    bool created;
};

struct View {
    void* base;
    std::size_t length;
};

struct MappingRegistry {
    std::mutex mutex;
    std::set<MappingObject*> handles;
    std::map<const void*, View> views;  // by the address handed out
};

MappingRegistry& Mappings() {
    static MappingRegistry registry;
    return registry;
}

// Names are per user and per link folder, so separate folders (a test's own, say) never
// see or sweep each other's objects.
std::string ShmPrefix(const std::string& folder) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : folder) hash = (hash ^ c) * 16777619u;
    char text[64];
    std::snprintf(text, sizeof text, "korva-%u-%08x-", static_cast<unsigned>(geteuid()), hash);
    return text;
}

std::string ShmName(const std::string& folder, const char* name) {
    return "/" + ShmPrefix(folder) + EscapeName(name);
}

struct MappingHeader {
    std::uint32_t ownerPid = 0;
    std::uint64_t ownerStart = 0;
    std::uint64_t dataSize = 0;
};

// Reads and checks the header of an open object: ours, complete, and as large as it says.
bool ReadHeader(int fd, MappingHeader& header) {
    struct stat info;
    if (fstat(fd, &info) != 0 || info.st_uid != geteuid()) return false;
    if (static_cast<std::uint64_t>(info.st_size) < MappingHeaderSize) return false;
    unsigned char bytes[32];
    if (pread(fd, bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return false;
    if (GetLe32(bytes) != MappingMagic || GetLe32(bytes + 4) != 1) return false;
    header.ownerPid = GetLe32(bytes + 8);
    header.ownerStart = GetLe64(bytes + 16);
    header.dataSize = GetLe64(bytes + 24);
    if (header.dataSize == 0 || header.dataSize > MaxMappingSize) return false;
    return static_cast<std::uint64_t>(info.st_size) == MappingHeaderSize + header.dataSize;
}

bool OwnerAlive(const MappingHeader& header) {
    return ProcessAlive(header.ownerPid, header.ownerStart);
}

// Removes this user's objects whose creator is gone. In our own folder (whose lock we hold)
// a bad header is a crash's leftover too; objects of other folders, whose creators do not
// take our lock, go only with a complete header naming a dead creator, so that one being
// made right now is never taken for a leftover. Folders that no longer exist thus cannot keep
// their leftovers for ever. Best effort: only where shm is a folder.
void SweepStaleObjects(const std::string& folderPath) {
    std::string userPrefix = "korva-" + std::to_string(geteuid()) + "-";
    std::string ownPrefix = ShmPrefix(folderPath);
    DIR* folder = opendir("/dev/shm");
    if (!folder) return;
    struct Stale {
        std::string name;
        dev_t device;
        ino_t inode;
    };
    std::vector<Stale> stale;
    while (dirent* item = readdir(folder)) {
        if (std::strncmp(item->d_name, userPrefix.c_str(), userPrefix.size()) != 0) continue;
        bool own = std::strncmp(item->d_name, ownPrefix.c_str(), ownPrefix.size()) == 0;
        std::string name = std::string("/") + item->d_name;
        int fd = shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
        if (fd < 0) continue;
        MappingHeader header;
        bool complete = ReadHeader(fd, header);
        struct stat info;
        if (((own && !complete) || (complete && !OwnerAlive(header))) && fstat(fd, &info) == 0)
            stale.push_back(Stale{name, info.st_dev, info.st_ino});
        close(fd);
    }
    closedir(folder);
    // Only if the name still means the object found dead: another folder's creator may have
    // replaced it meanwhile.
    for (const Stale& item : stale) {
        int fd = shm_open(item.name.c_str(), O_RDONLY | O_CLOEXEC, 0);
        if (fd < 0) continue;
        struct stat info;
        bool same = fstat(fd, &info) == 0 && info.st_dev == item.device && info.st_ino == item.inode;
        close(fd);
        if (same) shm_unlink(item.name.c_str());
    }
}

HANDLE Register(int fd, const std::string& shmName, std::uint64_t dataSize, bool writable, bool created) {
    auto* object = new MappingObject{fd, shmName, dataSize, writable, created};
    MappingRegistry& registry = Mappings();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.handles.insert(object);
    return object;
}

// The link folder and the shared-memory name of a named block; a name too long for the
// system fails with the error its caller reports for it.
bool ObjectName(LPCSTR name, DWORD tooLongError, std::string& folder, std::string& shmName) {
    if (!LinkDirectory(folder)) return false;
    shmName = ShmName(folder, name);
    if (shmName.size() > 255) {
        SetLastError(tooLongError);
        return false;
    }
    return true;
}

}  // namespace

HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCSTR name) {
    std::uint64_t size = (std::uint64_t(maximumSizeHigh) << 32) | maximumSizeLow;
    if (file != INVALID_HANDLE_VALUE || protect != PAGE_READWRITE || !name || !*name || size == 0 ||
        size > MaxMappingSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string folder, shmName;
    if (!ObjectName(name, ERROR_INVALID_PARAMETER, folder, shmName)) return nullptr;
    FolderLock lock(folder);
    if (!lock.Held()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    SweepStaleObjects(folder);
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = shm_open(shmName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            unsigned char header[32] = {};
            PutLe32(header, MappingMagic);
            PutLe32(header + 4, 1);
            PutLe32(header + 8, GetCurrentProcessId());
            PutLe64(header + 16, ProcessStartTime(GetCurrentProcessId()));
            PutLe64(header + 24, size);
            if (ftruncate(fd, static_cast<off_t>(MappingHeaderSize + size)) != 0 ||
                pwrite(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) {
                close(fd);
                shm_unlink(shmName.c_str());
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            }
            SetLastError(ERROR_SUCCESS);
            return Register(fd, shmName, size, true, true);
        }
        if (errno != EEXIST) {
            SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        fd = shm_open(shmName.c_str(), O_RDWR | O_CLOEXEC, 0);
        if (fd < 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        MappingHeader existing;
        if (ReadHeader(fd, existing) && OwnerAlive(existing)) {
            // As on Windows: the existing object is opened, and the caller is told so.
            HANDLE handle = Register(fd, shmName, existing.dataSize, true, false);
            SetLastError(ERROR_ALREADY_EXISTS);
            return handle;
        }
        struct stat info;
        bool foreign = fstat(fd, &info) != 0 || info.st_uid != geteuid();
        close(fd);
        if (foreign) break;
        shm_unlink(shmName.c_str());  // left by a crashed process
    }
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

HANDLE OpenFileMappingA(DWORD desiredAccess, BOOL, LPCSTR name) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string folder, shmName;
    if (!ObjectName(name, ERROR_FILE_NOT_FOUND, folder, shmName)) return nullptr;
    bool writable = (desiredAccess & FILE_MAP_WRITE) != 0;
    FolderLock lock(folder);
    int fd = shm_open(shmName.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC, 0);
    if (fd < 0) {
        SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
        return nullptr;
    }
    MappingHeader header;
    // An object whose creator is gone is a leftover, not a live block.
    if (!ReadHeader(fd, header) || !OwnerAlive(header)) {
        close(fd);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return Register(fd, shmName, header.dataSize, writable, false);
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes) {
    MappingRegistry& registry = Mappings();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = registry.handles.find(static_cast<MappingObject*>(mapping));
    if (found == registry.handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    MappingObject& object = **found;
    bool write = (desiredAccess & FILE_MAP_WRITE) != 0;
    if (offsetHigh || offsetLow || bytes > object.dataSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (write && !object.writable) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    // Someone may have cut the object short since it was opened; mapping past its end
    // would fault on the first touch.
    struct stat info;
    std::size_t length = MappingHeaderSize + static_cast<std::size_t>(object.dataSize);
    if (fstat(object.fd, &info) != 0 || static_cast<std::uint64_t>(info.st_size) < length) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* base = mmap(nullptr, length, write ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, object.fd, 0);
    if (base == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void* view = static_cast<unsigned char*>(base) + MappingHeaderSize;
    registry.views[view] = View{base, length};
    return view;
}

BOOL UnmapViewOfFile(LPCVOID baseAddress) {
    MappingRegistry& registry = Mappings();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = registry.views.find(baseAddress);
    if (found == registry.views.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    munmap(found->second.base, found->second.length);
    registry.views.erase(found);
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    MappingObject* object = nullptr;
    {
        MappingRegistry& registry = Mappings();
        std::lock_guard<std::mutex> lock(registry.mutex);
        auto found = registry.handles.find(static_cast<MappingObject*>(handle));
        if (found == registry.handles.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = *found;
        registry.handles.erase(found);
    }
    if (object->created) {
        // Remove the name only if it still names our object: after a stale-name recovery
        // it may belong to someone else by now.
        std::string folder;
        if (LinkDirectory(folder)) {
            FolderLock lock(folder);
            int fd = shm_open(object->shmName.c_str(), O_RDONLY | O_CLOEXEC, 0);
            if (fd >= 0) {
                struct stat named, ours;
                if (fstat(fd, &named) == 0 && fstat(object->fd, &ours) == 0 && named.st_ino == ours.st_ino &&
                    named.st_dev == ours.st_dev)
                    shm_unlink(object->shmName.c_str());
                close(fd);
            }
        }
    }
    close(object->fd);
    delete object;
    return TRUE;
}
