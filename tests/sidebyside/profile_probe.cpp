// Prints what the private-profile functions make of INI files, so that our own layer and the
// platform's real functions (under Wine) can be held side by side, byte for byte.
//
//   profile_probe list FILE...           every section, key and value of each file
//   profile_probe edits FILE SEED COUNT  COUNT seeded random writes to FILE (created when
//                                        missing), each followed by the whole listing
//
// FILE names are taken relative to the current directory. Only the two profile calls are
// used; the random sequence comes from a fixed generator so that both builds make the same.
#include "ProfileListing.h"
#include "platform/Profile.h"
#include "platform/System.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

using profilelisting::Listing;

std::string FullPath(const char* name) {
    char directory[4096] = "";
    GetCurrentDirectoryA(sizeof directory, directory);
    return std::string(directory) + PathDelimiter + name;
}

// A small linear congruential generator: the same numbers on every compiler and library.
struct Generator {
    std::uint64_t state;
    unsigned Next(unsigned bound) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<unsigned>((state >> 33) % bound);
    }
};

const char* Pick(Generator& random, const std::vector<const char*>& choices) {
    return choices[random.Next(static_cast<unsigned>(choices.size()))];
}

int Edits(const char* name, unsigned long seed, unsigned long count) {
    const std::string file = FullPath(name);
    Generator random{seed};
    // Names that differ only in case or blanks, values with blanks, quotes, '=' and ';', and
    // nulls: a null key deletes the section, a null value deletes the key.
    const std::vector<const char*> sections = {"WINDOW", "window", "WINSIZE", "LAN", "New Section", "x"};
    const std::vector<const char*> keys = {"X", "x", "Y", "WIDTH", "HEIGHT", "USELAN", "Key With Blanks", nullptr};
    const std::vector<const char*> values = {"0", "1", "-17", "400", "", "Y", "a=b", "; not a comment",
                                             "\"quoted\"", "'single'", "trailing   ", nullptr};
    for (unsigned long i = 0; i < count; ++i) {
        const char* section = Pick(random, sections);
        const char* key = Pick(random, keys);
        const char* value = key ? Pick(random, values) : nullptr;
        BOOL written = WritePrivateProfileStringA(section, key, value, file.c_str());
        std::printf("-- %lu: [%s] %s = %s -> %s\n", i, section, key ? key : "(null)", value ? value : "(null)",
                    written ? "written" : "refused");
        std::fputs(Listing(file).c_str(), stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // Line ends as written, so that both outputs compare byte for byte.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "list" && argc > 2) {
        for (int i = 2; i < argc; ++i) {
            std::printf("== %s\n", argv[i]);
            std::fputs(Listing(FullPath(argv[i])).c_str(), stdout);
        }
        return 0;
    }
    if (verb == "edits" && argc == 5) return Edits(argv[2], std::strtoul(argv[3], nullptr, 10), std::strtoul(argv[4], nullptr, 10));
    std::fprintf(stderr, "usage: profile_probe list FILE... | edits FILE SEED COUNT\n");
    return 2;
}
