// What the fuzz targets share: a scratch folder for the files they hand to the program. It
// lies in /dev/shm where there is one, since the program syncs every file it replaces and a
// disk would make that the whole cost of an input. KORVA_FUZZ_SCRATCH names another parent
// (scripts/fuzz.sh passes one it removes, so that a crashed run leaves nothing behind).
#pragma once

#include "TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace fuzzsupport {

// A folder of this process only (mode 0700), removed when the process ends normally.
inline const std::string& ScratchFolder() {
    struct Folder {
        std::string path;
        Folder() {
            const char* parent = std::getenv("KORVA_FUZZ_SCRATCH");
            std::string pattern = parent && *parent ? parent
                                  : access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
            pattern += "/korva-fuzz-XXXXXX";
            if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
            path = pattern;
            chmod(path.c_str(), 0700);
        }
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static Folder folder;
    return folder.path;
}

}  // namespace fuzzsupport
