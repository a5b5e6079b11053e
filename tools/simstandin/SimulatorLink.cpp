// The stand-in simulator's end of the FSUIPC link. The block comes from a client process
// and is checked record by record before anything in it is used.
#include "SimulatorLink.h"

#include "flightdata/LinkBlock.h"

#include "formats/ByteOrder.h"
#include "platform/Link.h"

#include <algorithm>
#include <cstring>
#include <future>

namespace {

using namespace linkblock;
constexpr std::uint32_t VersionArea = 0x3304;
constexpr std::uint32_t VersionAreaEnd = 0x330C;
constexpr std::uint32_t ClientVersionOffset = 0x330A;

// Stores a client's write, leaving out the bytes of the read-only version words: what lies
// before them and what lies after them are stored as two pieces.
void StoreWrite(OffsetMemory& memory, std::uint32_t offset, std::uint32_t length, const unsigned char* data,
                std::uint32_t& clientVersion) {
    if (offset == ClientVersionOffset && length == 2) clientVersion = data[0] | (data[1] << 8);
    std::uint64_t begin = offset, end = begin + length;
    std::uint64_t before = std::min<std::uint64_t>(end, VersionArea);
    if (begin < before) memory.Write(offset, static_cast<std::uint32_t>(before - begin), data);
    std::uint64_t after = std::max<std::uint64_t>(begin, VersionAreaEnd);
    if (after < end)
        memory.Write(static_cast<std::uint32_t>(after), static_cast<std::uint32_t>(end - after), data + (after - begin));
}

}  // namespace

std::vector<BlockRecord> CarryOutBlock(unsigned char* block, std::size_t size, OffsetMemory& memory,
                                       std::uint32_t& clientVersion, bool& complete) {
    // The whole block is checked before any record is carried out, so that a malformed one
    // changes nothing: every record known and inside the block, then the terminator.
    std::vector<BlockRecord> records;
    complete = false;
    std::size_t at = 0;
    while (at + 4 <= size) {
        // Kinds are whole 32-bit values: 0x101 is no read, 0x100 no terminator.
        std::uint32_t kind = GetLe32(block + at);
        if (kind == 0) {
            complete = true;
            break;
        }
        std::size_t header = kind == KindRead ? ReadHeaderSize : kind == KindWrite ? WriteHeaderSize : 0;
        if (header == 0 || size - at < header) break;
        std::uint32_t length = GetLe32(block + at + 8);
        if (size - at - header < length) break;
        records.push_back(BlockRecord{at, kind});
        at += header + length;
    }
    if (!complete) return {};
    for (const BlockRecord& record : records) {
        unsigned char* at = block + record.position;
        std::uint32_t offset = GetLe32(at + 4);
        std::uint32_t length = GetLe32(at + 8);
        if (record.kind == KindRead)
            memory.Read(offset, length, at + ReadHeaderSize);
        else
            StoreWrite(memory, offset, length, at + WriteHeaderSize, clientVersion);
    }
    return records;
}

bool SimulatorLink::Start(const char* className, std::string& error) {
    ipcMessage_ = RegisterWindowMessageA(MessageName);
    stop_ = false;
    // The serving thread takes the class itself: on Windows a window belongs to the thread
    // that made it, and only that thread receives its messages.
    std::promise<std::string> listening;
    std::future<std::string> outcome = listening.get_future();
    std::string name = className;
    thread_ = std::thread([this, name, &listening] {
        std::string why;
        bool serving = server_.Listen(name.c_str(), why);
        listening.set_value(serving ? std::string() : (why.empty() ? "cannot serve " + name : why));
        if (!serving) return;
        LinkServer::Handler handler = [this](const LinkRequest& request, DWORD& answer) {
            return Handle(request, answer);
        };
        while (!stop_) server_.ServeOne(100, handler);
        server_.Close();
    });
    error = outcome.get();
    if (error.empty()) return true;
    thread_.join();
    return false;
}

void SimulatorLink::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    server_.Close();
}

void SimulatorLink::SetMisbehaviour(Misbehaviour mode, std::uint32_t answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    mode_ = mode;
    answer_ = mode == Misbehaviour::Answer ? answer : 1;
}

LinkStats SimulatorLink::Stats() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stats_;
}

bool SimulatorLink::Handle(const LinkRequest& request, DWORD& answer) {
    // Other messages get what a window procedure gives messages it does not know.
    if (request.message != ipcMessage_) {
        answer = 0;
        return true;
    }
    Misbehaviour mode;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        mode = mode_;
        answer = answer_;
    }
    if (mode == Misbehaviour::Silent) return false;
    if (!Exchange(request.wParam, mode)) answer = 0;
    return true;
}

// Finds the client's block by the atom's name, carries it out and spoils it if told to.
bool SimulatorLink::Exchange(WPARAM atom, Misbehaviour mode) {
    if (atom == 0 || atom > 0xFFFF) return false;
    char name[256];
    if (GlobalGetAtomNameA(static_cast<ATOM>(atom), name, sizeof name) == 0) return false;
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name);
    if (!mapping) return false;
    auto* block = static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, BlockSize));
    if (!block) {
        CloseHandle(mapping);
        return false;
    }
    std::uint32_t clientVersion = 0;
    bool complete = false;
    std::vector<BlockRecord> records = CarryOutBlock(block, BlockSize, memory_, clientVersion, complete);
    if (!complete) {
        // Nothing was carried out; the answer 0 tells the client so.
        UnmapViewOfFile(block);
        CloseHandle(mapping);
        return false;
    }

    std::uint64_t reads = 0, writes = 0;
    for (const BlockRecord& record : records) (record.kind == KindRead ? reads : writes) += 1;
    switch (mode) {
    case Misbehaviour::Garbage: {
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::size_t i = 0; i < BlockSize; ++i) {
            noise_ ^= noise_ << 13;
            noise_ ^= noise_ >> 17;
            noise_ ^= noise_ << 5;
            block[i] = static_cast<unsigned char>(noise_);
        }
        break;
    }
    case Misbehaviour::Scramble: {
        std::size_t end = 0;
        for (const BlockRecord& record : records) {
            std::uint32_t size = GetLe32(block + record.position + 8);
            end = record.position + (record.kind == KindRead ? ReadHeaderSize : WriteHeaderSize) + size;
            PutLe32(block + record.position + 4, 0xFFFFFFFF);
            PutLe32(block + record.position + 8, 0xFFFFFFF0);
            if (record.kind == KindRead) PutLe32(block + record.position + 12, 0x00001000);
        }
        if (end + 4 <= BlockSize) PutLe32(block + end, KindRead);
        break;
    }
    case Misbehaviour::BadKind:
        if (records.size() > 1) PutLe32(block + records[1].position, 0xEE);
        break;
    case Misbehaviour::HighKind:
        // Right in the low byte, wrong in the rest: a walk that looks at one byte goes on.
        if (records.size() > 1) PutLe32(block + records[1].position, records[1].kind | 0x100);
        break;
    default:
        break;
    }

    UnmapViewOfFile(block);
    CloseHandle(mapping);
    std::lock_guard<std::mutex> lock(mutex_);
    stats_.exchanges += 1;
    stats_.reads += reads;
    stats_.writes += writes;
    if (clientVersion) stats_.clientVersion = clientVersion;
    return true;
}
