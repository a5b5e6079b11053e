// posix backend: user32's LoadImageA for icon files and DestroyIcon; "plane2.ico" becomes RGBA
// pixels the window layer hands to GLFW (posix_icon.h). Bitmap entries of 1-32 bits with their
// mask or alpha. Knowingly does not: PNG entries (skipped), resources, cursors, bitmaps, and
// scaling: the entry nearest the asked size is kept at its own size, enough for a window icon.
#include "platform/posix/posix_icon.h"

#include "formats/ByteOrder.h"
#include "formats/DibReader.h"
#include "platform/System.h"
#include "platform/Window.h"
#include "platform/posix/posix_common.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

// Windows' code for "the data is invalid", set for a file that holds no usable icon.
#ifndef ERROR_INVALID_DATA
#define ERROR_INVALID_DATA 13L
#endif

namespace {

constexpr int DefaultIconSize = 32;  // SM_CXICON / SM_CYICON on Windows
constexpr std::size_t MaxIconFileSize = std::size_t{16} << 20;
constexpr std::size_t DirectoryHeaderSize = 6;
constexpr std::size_t DirectoryEntrySize = 16;

struct Icon {
    DibRgbaImage image;
};

// Every live icon, so that a stale or foreign handle is refused instead of followed.
struct IconBackend {
    std::unordered_map<HICON, std::unique_ptr<Icon>> icons;
};

IconBackend& Backend() {
    static IconBackend backend;
    return backend;
}

// Reads the whole file; on failure sets the error Windows' CreateFile/ReadFile would.
bool ReadIconFile(const char* name, std::vector<unsigned char>& bytes) {
    std::string text;
    switch (posixcommon::ReadWholeFile(name, MaxIconFileSize, text)) {
    case posixcommon::ReadResult::Read:
        bytes.assign(text.begin(), text.end());
        return true;
    case posixcommon::ReadResult::Missing:
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    case posixcommon::ReadResult::Failed:
        break;
    }
    // A name that leads nowhere is "not found"; Windows refuses to open a folder as a file
    // with "access denied"; a file too large to be an icon holds no usable one.
    switch (errno) {
    case ENOTDIR: case ELOOP: case ENAMETOOLONG: case ENXIO: case ENODEV:
        SetLastError(ERROR_FILE_NOT_FOUND);
        break;
    case EFBIG:
        SetLastError(ERROR_INVALID_DATA);
        break;
    default:
        SetLastError(ERROR_ACCESS_DENIED);
    }
    return false;
}

struct Candidate {
    std::size_t offset;
    std::size_t length;
    int width;
    int height;
    int bitCount;
};

// The directory's bitmap entries, the nearest in size to cx x cy first and, among equals,
// the one with more colours.
std::vector<Candidate> RankEntries(const std::vector<unsigned char>& file, int cx, int cy) {
    std::vector<Candidate> ranked;
    if (file.size() < DirectoryHeaderSize) return ranked;
    const unsigned char* d = file.data();
    if (GetLe16(d) != 0 || GetLe16(d + 2) != 1) return ranked;  // not an icon directory
    const std::size_t count = GetLe16(d + 4);
    if (count > (file.size() - DirectoryHeaderSize) / DirectoryEntrySize) return ranked;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* e = d + DirectoryHeaderSize + i * DirectoryEntrySize;
        const std::uint32_t length = GetLe32(e + 8);
        const std::uint32_t offset = GetLe32(e + 12);
        if (offset >= file.size()) continue;
        Candidate c;
        c.offset = offset;
        // Some icon editors write a length running past the end; the decoder checks the rest.
        c.length = std::min<std::size_t>(length, file.size() - offset);
        c.width = e[0] == 0 ? 256 : e[0];
        c.height = e[1] == 0 ? 256 : e[1];
        c.bitCount = GetLe16(e + 6);
        const unsigned char* image = d + offset;
        if (c.length >= 8 && std::memcmp(image, "\x89PNG\r\n\x1a\n", 8) == 0) continue;
        // The bitmap's own header is more trustworthy than the directory about the depth.
        if (c.length >= 16 && GetLe32(image) >= 16) c.bitCount = GetLe16(image + 14);
        ranked.push_back(c);
    }
    auto distance = [cx, cy](const Candidate& c) { return std::abs(c.width - cx) + std::abs(c.height - cy); };
    std::stable_sort(ranked.begin(), ranked.end(), [&](const Candidate& a, const Candidate& b) {
        if (distance(a) != distance(b)) return distance(a) < distance(b);
        return a.bitCount > b.bitCount;
    });
    return ranked;
}

}  // namespace

HANDLE LoadImageA(HINSTANCE, LPCSTR name, UINT type, int cx, int cy, UINT flags) {
    // Without LR_LOADFROMFILE the name is a resource, and programs here carry none.
    if (name == nullptr || type != IMAGE_ICON || (flags & LR_LOADFROMFILE) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    try {
        std::vector<unsigned char> file;
        if (!ReadIconFile(name, file)) return nullptr;
        const int wantWidth = cx > 0 ? cx : DefaultIconSize;
        const int wantHeight = cy > 0 ? cy : DefaultIconSize;
        for (const Candidate& c : RankEntries(file, wantWidth, wantHeight)) {
            auto icon = std::make_unique<Icon>();
            if (!DecodeDib(file.data() + c.offset, c.length, true, icon->image)) continue;
            HICON handle = icon.get();
            Backend().icons.emplace(handle, std::move(icon));
            return handle;
        }
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

BOOL DestroyIcon(HICON icon) {
    if (Backend().icons.erase(icon) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

bool PosixIconPixels(HICON icon, int& width, int& height, const unsigned char*& rgba) {
    const auto found = Backend().icons.find(icon);
    if (icon == nullptr || found == Backend().icons.end()) return false;
    const DibRgbaImage& image = found->second->image;
    width = image.width;
    height = image.height;
    rgba = image.rgba.data();
    return true;
}

std::size_t PosixLiveIconCount() {
    return Backend().icons.size();
}
