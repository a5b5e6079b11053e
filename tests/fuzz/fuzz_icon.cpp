// Fuzz target: LoadImageA on an icon file whose content is the input, as the window loads
// "plane2.ico": the directory, the choice of entry and the bitmap inside it (DecodeDib with
// its AND mask). The pixels of a loaded icon are read in full and the icon destroyed.
// Inputs that start like a bitmap file are also decoded as a bare bitmap after their file
// header, so that the bitmap files of the seed corpus reach the icon's decoder directly.
#include "formats/DibReader.h"
#include "platform/Window.h"
#include "platform/posix/posix_icon.h"
#include "FuzzSupport.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const std::string& IconPath() {
    static const std::string path = fuzzsupport::ScratchFolder() + "/plane2.ico";
    return path;
}

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "icon finding: %s\n", what);
    std::abort();
}

unsigned Sum(const unsigned char* bytes, std::size_t size) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; ++i) sum += bytes[i];
    return sum;
}

void CheckBare(const std::uint8_t* data, std::size_t size) {
    for (bool mask : {false, true}) {
        DibRgbaImage image;
        if (!DecodeDib(data, size, mask, image)) continue;
        Check(image.width > 0 && image.height > 0, "a picture without pixels");
        Check(image.rgba.size() == static_cast<std::size_t>(image.width) * image.height * 4, "wrong RGBA size");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size >= 14 && data[0] == 'B' && data[1] == 'M') CheckBare(data + 14, size - 14);
    CheckBare(data, size);

    std::FILE* file = std::fopen(IconPath().c_str(), "wb");
    if (!file) std::abort();
    if (size) std::fwrite(data, 1, size, file);
    std::fclose(file);
    // The last two bytes choose the size asked for; 0 asks for the default size.
    const int cx = size > 2 ? data[size - 1] % 64 : 0;
    const int cy = size > 2 ? data[size - 2] % 64 : 0;
    HANDLE icon = LoadImageA(nullptr, IconPath().c_str(), IMAGE_ICON, cx, cy, LR_LOADFROMFILE);
    if (icon) {
        int width = 0, height = 0;
        const unsigned char* rgba = nullptr;
        Check(PosixIconPixels(static_cast<HICON>(icon), width, height, rgba), "a loaded icon without pixels");
        Check(width > 0 && height > 0 && rgba, "an empty icon");
        volatile unsigned sum = Sum(rgba, static_cast<std::size_t>(width) * height * 4);
        (void)sum;
        Check(DestroyIcon(static_cast<HICON>(icon)), "DestroyIcon refused a live icon");
    }
    Check(PosixLiveIconCount() == 0, "an icon outlived DestroyIcon");
    return 0;
}
