// The optional status file (KORVA_STATUS_FILE): frames drawn, the angles of the last frame,
// the needle sources and the adjust modes, rewritten at most ten times a second, replaced
// atomically so a reader never sees half a file.
#include "base/Diagnostics.h"

#include "base/InstrumentState.h"
#include "platform/System.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct StatusFile {
    std::string path;
    unsigned long long frames = 0;
    std::chrono::steady_clock::time_point lastWrite{};
};

StatusFile& Status() {
    static StatusFile status = [] {
        StatusFile s;
        if (const char* path = std::getenv("KORVA_STATUS_FILE")) s.path = path;
        return s;
    }();
    return status;
}

}  // namespace

void NoteFrameDrawn(float cardAngle, float needle1Angle, float needle2Angle) {
    StatusFile& s = Status();
    if (s.path.empty()) return;
    ++s.frames;
    auto now = std::chrono::steady_clock::now();
    if (s.frames > 1 && now - s.lastWrite < std::chrono::milliseconds(100)) return;
    s.lastWrite = now;
    std::string temporary = s.path + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "w");
    if (!file) return;
    std::fprintf(file,
                 "frames=%llu\ncard=%.9g\nneedle1=%.9g\nneedle2=%.9g\nneedle1vor=%d\nneedle2vor=%d\n"
                 "position=%d\nsize=%d\n",
                 s.frames, cardAngle, needle1Angle, needle2Angle, Needle1Vor ? 1 : 0, Needle2Vor ? 1 : 0,
                 PositionMode ? 1 : 0, SizeMode ? 1 : 0);
    std::fclose(file);
    // rename() of the C runtime on Windows refuses to replace an existing file.
    MoveFileExA(temporary.c_str(), s.path.c_str(), MOVEFILE_REPLACE_EXISTING);
}
