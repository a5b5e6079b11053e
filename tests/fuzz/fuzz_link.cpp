// Fuzz target: the FSUIPC link client's handling of the answered block. A simulator end runs
// on a thread of this process over the real local transport (the stand-in's serving part and
// its block carrier); after carrying out a block it overwrites the block's start with the
// input's bytes, as a faulty or hostile simulator might, and answers. The client then copies
// the replies into the callers' buffers, which are heap blocks of exactly the size queued.
// Besides the sanitizers, every buffer must hold what the walk of the block allows: the reply
// at the client's own position for records up to the first spoiled kind, untouched after it.
//
// Input: byte 0 (record count, answer), then 4 bytes per record (flags, size, offset), then the
// bytes the simulator leaves at the block's start.
#include "flightdata/FPCuser.h"
#include "flightdata/LinkBlock.h"
#include "platform/Link.h"
#include "LinkServer.h"
#include "OffsetMemory.h"
#include "SimulatorLink.h"
#include "FuzzSupport.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>


namespace {

using namespace linkblock;

constexpr std::uint32_t ReadArea = 0x3000;    // filled with a pattern, read by the records
constexpr std::uint32_t WriteArea = 0x5000;   // written by the records, never read
constexpr unsigned char Untouched = 0xCC;

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "link finding: %s\n", what);
    std::abort();
}

unsigned char Pattern(std::uint32_t offset) {
    return static_cast<unsigned char>(offset * 7 + 3);
}

// The simulator's end: carries the block out, then leaves `spoil` over its start.
struct Simulator {
    OffsetMemory memory;
    LinkServer server;
    UINT message = 0;
    std::mutex mutex;
    std::vector<unsigned char> spoil;
    DWORD answer = 1;

    bool Handle(const LinkRequest& request, DWORD& reply) {
        if (request.message != message) {
            reply = 0;
            return true;
        }
        std::lock_guard<std::mutex> lock(mutex);
        reply = answer;
        char name[256];
        if (request.wParam == 0 || GlobalGetAtomNameA(static_cast<ATOM>(request.wParam), name, sizeof name) == 0)
            Check(false, "the block's atom has no name");
        HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name);
        Check(mapping != nullptr, "the block cannot be opened");
        auto* block = static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, BlockSize));
        Check(block != nullptr, "the block cannot be mapped");
        std::uint32_t clientVersion = 0;
        bool complete = false;
        CarryOutBlock(block, BlockSize, memory, clientVersion, complete);
        if (!spoil.empty()) std::memcpy(block, spoil.data(), spoil.size());
        UnmapViewOfFile(block);
        CloseHandle(mapping);
        return true;
    }
};

Simulator& Start() {
    // Never destroyed: the serving thread runs until the process ends.
    static Simulator* simulator = [] {
        setenv("KORVA_LINK_DIR", fuzzsupport::ScratchFolder().c_str(), 1);
        auto* s = new Simulator;
        for (std::uint32_t offset = 0; offset < ReadArea + 0x400; ++offset) {
            unsigned char b = Pattern(offset);
            s->memory.Write(offset, 1, &b);
        }
        const unsigned char versions[8] = {0x00, 0x00, 0x99, 0x19, 0x06, 0x00, 0xDE, 0xFA};
        s->memory.Write(0x3304, 8, versions);
        s->message = RegisterWindowMessageA(MessageName);
        std::string error;
        if (!s->server.Listen("FS98MAIN", error)) {
            std::fprintf(stderr, "link: cannot serve FS98MAIN: %s\n", error.c_str());
            std::abort();
        }
        std::thread([s] {
            LinkServer::Handler handler = [s](const LinkRequest& r, DWORD& a) { return s->Handle(r, a); };
            for (;;) s->server.ServeOne(1000, handler);
        }).detach();
        IpcResult result = -1;
        if (!IpcOpen(0, result)) {
            std::fprintf(stderr, "link: IpcOpen failed with %d\n", static_cast<int>(result));
            std::abort();
        }
        // Leaves no shared block behind when the run ends.
        std::atexit([] { IpcClose(); });
        return s;
    }();
    return *simulator;
}

struct Record {
    bool read;
    std::uint32_t offset;
    std::uint32_t size;
    std::uint32_t position;  // in the block, where the client put it
    std::unique_ptr<unsigned char[]> buffer;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Simulator& simulator = Start();
    if (size < 1) return 0;
    const std::size_t count = 1 + (data[0] & 7);
    const DWORD answer = (data[0] & 0x80) ? data[0] & 0x03 : 1;
    std::size_t at = 1;

    std::vector<Record> records;
    std::uint32_t position = 0;
    for (std::size_t i = 0; i < count && size - at >= 4; ++i, at += 4) {
        const std::uint8_t flags = data[at];
        Record r;
        r.read = (flags & 1) == 0;
        r.size = data[at + 1] | ((flags & 0x30u) << 4);  // 0 to 1023 bytes
        const std::uint32_t where = data[at + 2] | (data[at + 3] << 8);
        r.offset = r.read ? where % (ReadArea - 0x400) : WriteArea + where;
        r.position = position;
        IpcResult result = -1;
        if (r.read) {
            r.buffer.reset(new unsigned char[r.size]);
            std::memset(r.buffer.get(), Untouched, r.size);
            Check(IpcQueueRead(r.offset, r.size, r.buffer.get(), result), "a read that fits was refused");
        } else {
            std::vector<unsigned char> source(r.size, 0x5A);
            Check(IpcQueueWrite(r.offset, r.size, source.data(), result), "a write that fits was refused");
        }
        position += (r.read ? ReadHeaderSize : WriteHeaderSize) + r.size;
        records.push_back(std::move(r));
    }
    if (records.empty()) return 0;

    {
        std::lock_guard<std::mutex> lock(simulator.mutex);
        const std::size_t spoilLength = std::min<std::size_t>(size - at, BlockSize);
        simulator.spoil.assign(data + at, data + at + spoilLength);
        simulator.answer = answer;
    }
    IpcResult result = -1;
    const bool processed = IpcProcess(result);
    Check(processed == (answer == 1), "the exchange's result does not follow the answer");
    if (!processed) Check(result == IPC_ERR_DATA, "a refused answer gave another error");

    // What the walk must have done: copy each read's reply until the 32-bit kind where the
    // client put a record is not the kind it queued there; leave everything after that alone.
    const std::vector<unsigned char>& spoil = simulator.spoil;
    bool walking = processed;
    for (const Record& r : records) {
        if (walking) {
            const std::uint32_t queued = r.read ? KindRead : KindWrite;
            std::uint32_t kind = 0;
            for (std::uint32_t b = 0; b < 4; ++b) {
                const std::size_t inBlock = r.position + b;
                const std::uint32_t byte = inBlock < spoil.size() ? spoil[inBlock] : (queued >> (8 * b)) & 0xFF;
                kind |= byte << (8 * b);
            }
            walking = kind == queued;
        }
        if (!r.read) continue;
        for (std::uint32_t j = 0; j < r.size; ++j) {
            const std::size_t inBlock = r.position + ReadHeaderSize + j;
            const unsigned char expected = !walking ? Untouched
                                           : inBlock < spoil.size() ? spoil[inBlock]
                                                                    : Pattern(r.offset + j);
            Check(r.buffer[j] == expected, walking ? "a reply arrived wrong" : "a buffer past the walk's end changed");
        }
    }
    return 0;
}
