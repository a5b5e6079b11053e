// posix backend: named shared memory for the link, standing in for kernel32's
// CreateFileMappingA/OpenFileMappingA/MapViewOfFile. An object is POSIX shm with one header
// page naming its creator before the caller's bytes; unlike Windows, a name left by a crashed
// process outlives it, so such leftovers are recognised by that header and replaced.
// Only named objects backed by the paging file. Format: docs/link-transport.md.
#include "formats/ByteOrder.h"
#include "platform/Link.h"
#include "platform/System.h"
#include "platform/posix/posix_common.h"
#include "platform/posix/posix_link_transport.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace linktransport;

namespace {

// Large enough for any block the link uses, small enough that a bad size cannot exhaust memory.
constexpr std::uint64_t MaxMappingSize = 256u << 20;

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
    std::uint32_t hash = posixcommon::Fnv1a(folder);
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
