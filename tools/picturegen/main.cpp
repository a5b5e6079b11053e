// picturegen: draws the instrument's pictures, font and icon and writes them into a folder
// (the current directory by default), or composes a preview frame of the instrument as PNG.
//   picturegen [FOLDER]
//   picturegen --preview OUT.png WIDTH HEIGHT CARD N1 N2 [pos|size] [vor1|adf1] [vor2|adf2]
#include "Pictures.h"
#include "Preview.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: picturegen [FOLDER]\n"
                 "       picturegen --preview OUT.png WIDTH HEIGHT CARD N1 N2 [pos|size] "
                 "[vor1|adf1] [vor2|adf2]\n");
    return 2;
}

bool ParseNumber(const char* text, double& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtod(text, &end);
    return end != text && *end == '\0' && errno == 0 && std::isfinite(out);
}

int Preview(int argc, char** argv) {
    if (argc < 8) return Usage();
    double width, height;
    PreviewState state;
    if (!ParseNumber(argv[3], width) || !ParseNumber(argv[4], height) ||
        !ParseNumber(argv[5], state.cardAngle) || !ParseNumber(argv[6], state.needle1Angle) ||
        !ParseNumber(argv[7], state.needle2Angle))
        return Usage();
    if (width < 1 || width > 4096 || height < 1 || height > 4096 || width != std::floor(width) ||
        height != std::floor(height)) {
        std::fprintf(stderr, "picturegen: the preview must be 1 to 4096 pixels each way\n");
        return 2;
    }
    for (int i = 8; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "pos") state.positionMode = true;
        else if (word == "size") state.sizeMode = true;
        else if (word == "vor1") state.needle1Vor = true;
        else if (word == "adf1") state.needle1Vor = false;
        else if (word == "vor2") state.needle2Vor = true;
        else if (word == "adf2") state.needle2Vor = false;
        else return Usage();
    }
    const PictureSet set = DrawAllPictures();
    WritePng(RenderPreview(set, static_cast<int>(width), static_cast<int>(height), state), argv[2]);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc >= 2 && std::string(argv[1]) == "--preview") return Preview(argc, argv);
        if (argc > 2 || (argc == 2 && argv[1][0] == '-')) return Usage();
        WriteAllPictures(DrawAllPictures(), argc == 2 ? argv[1] : ".");
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "picturegen: %s\n", e.what());
        return 1;
    }
}
