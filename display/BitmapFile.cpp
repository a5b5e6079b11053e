// LoadBitmapFile: one picture file (a ".txr" or "font.bmp" in the current directory) as the
// RGB record the texture upload takes. The decoding is the platform folder's bitmap reader,
// the same on every system; nothing here shows a message.
#include "display/Textures.h"

#include "formats/DibReader.h"

#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

std::unique_ptr<RgbImage> LoadBitmapFile(const char* fileName) {
    if (fileName == nullptr || fileName[0] == '\0') return nullptr;
    // A folder that happens to carry a picture's name counts as no picture at all.
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::path(fileName), error)) return nullptr;

    DibImage decoded;
    if (!ReadBitmapFile(fileName, decoded)) return nullptr;
    try {
        auto image = std::make_unique<RgbImage>();
        image->width = decoded.width;
        image->height = decoded.height;
        image->pixels.reset(new unsigned char[decoded.rgb.size()]);
        std::memcpy(image->pixels.get(), decoded.rgb.data(), decoded.rgb.size());
        return image;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
