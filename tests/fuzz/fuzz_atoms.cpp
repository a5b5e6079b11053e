// Fuzz target: the link folder's atom table, whose content is the input. Any process of the
// user can write that file, so the instrument must take whatever is in it. The target looks
// atoms up by number (into short buffers too) and by name, then adds and deletes an atom of
// its own: the lookups must agree with each other and the new atom must be found while it
// lives, while the atoms that live processes hold stay.
#include "platform/Link.h"
#include "FuzzSupport.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>


namespace {

const char OwnName[] = "FsasmLib:IPC:FUZZ:1";

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "atoms finding: %s\n", what);
    std::abort();
}

const std::string& Folder() {
    static const std::string& folder = [] () -> const std::string& {
        setenv("KORVA_LINK_DIR", fuzzsupport::ScratchFolder().c_str(), 1);
        return fuzzsupport::ScratchFolder();
    }();
    return folder;
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x -= 32;
        if (y >= 'a' && y <= 'z') y -= 32;
        if (x != y) return false;
    }
    return true;
}

// The atom's name through a heap buffer of exactly size bytes.
std::string NameOf(ATOM atom, int size) {
    std::vector<char> buffer(static_cast<std::size_t>(size));
    UINT length = GlobalGetAtomNameA(atom, buffer.data(), size);
    Check(length < static_cast<UINT>(size), "a name longer than the buffer");
    Check(buffer[length] == '\0' && std::strlen(buffer.data()) == length, "a name not terminated where it ends");
    return std::string(buffer.data(), length);
}

// Atom numbers worth asking about: the first few, and those the input's lines begin with.
std::vector<ATOM> Candidates(const std::uint8_t* data, std::size_t size) {
    std::vector<ATOM> atoms;
    for (unsigned a = 0xC000; a < 0xC004; ++a) atoms.push_back(static_cast<ATOM>(a));
    std::size_t at = 0;
    while (at < size && atoms.size() < 16) {
        unsigned value = 0;
        bool hex = size - at >= 4;
        for (std::size_t i = 0; i < 4 && hex; ++i) {
            char c = static_cast<char>(data[at + i]);
            int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            hex = digit >= 0;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        if (hex) atoms.push_back(static_cast<ATOM>(value));
        const void* newline = std::memchr(data + at, '\n', size - at);
        if (!newline) break;
        at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(newline) - data) + 1;
    }
    return atoms;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string table = Folder() + "/atoms";
    std::FILE* file = std::fopen(table.c_str(), "wb");
    if (!file) std::abort();
    if (size) std::fwrite(data, 1, size, file);
    std::fclose(file);

    std::vector<std::string> live;
    for (ATOM atom : Candidates(data, size)) {
        const std::string name = NameOf(atom, 256);
        for (int small : {1, 2, 5}) {
            const std::string cut = NameOf(atom, small);
            Check(name.compare(0, cut.size(), cut) == 0, "a short buffer got another name's start");
        }
        if (name.empty()) continue;
        live.push_back(name);
        // The first live atom of the name, which may be another of the same name.
        const ATOM found = GlobalFindAtomA(name.c_str());
        Check(found != 0, "a live atom's name is not found");
        Check(SameName(NameOf(found, 256), name), "the name leads to an atom of another name");
    }

    const ATOM before = GlobalFindAtomA(OwnName);
    const ATOM own = GlobalAddAtomA(OwnName);
    if (own == 0) return 0;  // every atom number taken
    Check(own >= 0xC000, "a string atom below 0xC000");
    Check(before == 0 || before == own, "a second atom for a name that has one");
    Check(GlobalFindAtomA(OwnName) == own, "a new atom is not found");
    Check(NameOf(own, 256) == OwnName, "a new atom has another name");
    for (const std::string& name : live)
        Check(GlobalFindAtomA(name.c_str()) != 0, "adding an atom lost one a live process holds");
    Check(GlobalDeleteAtom(own) == 0, "deleting a new atom failed");
    Check(GlobalFindAtomA(OwnName) == before, "deleting an atom left another state than before");
    return 0;
}
