// Fuzz target: the bitmap reader as the instrument uses it. The input is a bitmap file: it is
// decoded from memory (DecodeBitmap), then written to a file and loaded the way the pictures
// and the font are (LoadBitmapFile). Both must agree, and every decoded byte is touched, so
// that a buffer smaller than the size it claims shows up under AddressSanitizer.
#include "display/Textures.h"
#include "formats/DibReader.h"
#include "FuzzSupport.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const std::string& PicturePath() {
    static const std::string path = fuzzsupport::ScratchFolder() + "/fuzz.txr";
    return path;
}

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "bitmap finding: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DibImage decoded;
    const bool ok = DecodeBitmap(data, size, decoded);
    if (ok) {
        Check(decoded.width > 0 && decoded.height > 0, "a picture without pixels");
        Check(static_cast<std::uint64_t>(decoded.width) * decoded.height <= MaxDibPixels, "a picture beyond the limit");
        Check(decoded.rgb.size() == DibRgbRowBytes(decoded.width) * static_cast<std::size_t>(decoded.height),
              "rows of another length than the texture upload expects");
    }

    std::FILE* file = std::fopen(PicturePath().c_str(), "wb");
    if (!file) std::abort();
    if (size) std::fwrite(data, 1, size, file);
    std::fclose(file);
    std::unique_ptr<RgbImage> loaded = LoadBitmapFile(PicturePath().c_str());
    Check(static_cast<bool>(loaded) == ok, "the file and the bytes in memory decode differently");
    if (loaded) {
        Check(loaded->width == decoded.width && loaded->height == decoded.height, "sizes differ");
        // Reads every byte of the buffer LoadBitmapFile made.
        Check(std::memcmp(loaded->pixels.get(), decoded.rgb.data(), decoded.rgb.size()) == 0, "pixels differ");
    }
    return 0;
}
