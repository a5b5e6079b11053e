// FPCuser: the client side of the FSUIPC link, one link per process, used from one thread.
// Requests are queued as records in the shared block and handed to the simulator with one
// message per batch. The block is memory another process writes, so replies are copied only
// for the reads this client queued, from where it put them, with the sizes it queued, to
// destinations kept in the client's own list (addresses may be wider than the 32-bit field).
#include "flightdata/FPCuser.h"

#include "flightdata/LinkBlock.h"

#include "formats/ByteOrder.h"
#include "platform/Link.h"
#include "platform/System.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using namespace linkblock;

constexpr char ClassUipc[] = "UIPCMAIN";
constexpr char ClassFs98[] = "FS98MAIN";

constexpr std::uint32_t OffsetFsuipcVersion = 0x3304;
constexpr std::uint32_t OffsetSimulatorVersion = 0x3308;
constexpr std::uint32_t OffsetClientVersion = 0x330A;
// Anything up to here predates the block format this client speaks.
constexpr std::uint32_t OldestRejectedFsuipc = 0x19980004;
constexpr std::uint32_t SimulatorSignature = 0xFADE;
constexpr int HandshakeTries = 5;
constexpr DWORD HandshakePauseMs = 100;
constexpr int SendTries = 10;
constexpr UINT SendTimeoutMs = 2000;
constexpr DWORD SendPauseMs = 100;

// One queued record, as this client wrote it.
struct QueuedRecord {
    std::uint32_t position;  // from the block start
    std::uint32_t kind;
    std::uint32_t size;
    void* destination;  // reads only
};

struct LinkState {
    HWND window = nullptr;
    UINT message = 0;
    ATOM atom = 0;
    HANDLE mapping = nullptr;
    unsigned char* blockStart = nullptr;
    unsigned char* writePosition = nullptr;
    std::uint32_t fsuipcVersion = 0;
    std::uint32_t simulatorVersion = 0;
    std::uint16_t clientVersion = 1004;
    std::vector<QueuedRecord> queued;
    std::vector<QueuedRecord> batch;  // the records of the exchange under way
};

LinkState state;

std::uint32_t Used() {
    return static_cast<std::uint32_t>(state.writePosition - state.blockStart);
}

// Whether a record of this header and data size still leaves room for the terminator.
// Counted in 64 bits: a size near 4 GB must not wrap round to a small number.
bool Fits(std::uint32_t headerSize, std::uint32_t size) {
    return std::uint64_t(Used()) + headerSize + size + TerminatorSize <= BlockLimit;
}

void AppendRecord(std::uint32_t kind, std::uint32_t offset, std::uint32_t size, void* destination) {
    QueuedRecord record{Used(), kind, size, destination};
    PutLe32(state.writePosition, kind);
    PutLe32(state.writePosition + 4, offset);
    PutLe32(state.writePosition + 8, size);
    if (kind == KindRead) {
        // Only the low 32 bits fit; the client never reads the field back.
        PutLe32(state.writePosition + 12, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(destination)));
    }
    state.writePosition += kind == KindRead ? ReadHeaderSize : WriteHeaderSize;
    state.queued.push_back(record);
}

// Copies the replies of the batch's reads into place. Positions, sizes and destinations
// come from this client's own list; the block only tells where the walk ends: at the first
// record whose kind, all 32 bits of it, is no longer the one this client queued there.
void ScatterReplies() {
    for (const QueuedRecord& record : state.batch) {
        if (GetLe32(state.blockStart + record.position) != record.kind) break;
        if (record.kind == KindRead && record.size != 0 && record.destination)
            std::memcpy(record.destination, state.blockStart + record.position + ReadHeaderSize, record.size);
    }
}

bool QueueHandshake(bool firstTry, IpcResult& result) {
    if (!IpcQueueRead(OffsetFsuipcVersion, 4, &state.fsuipcVersion, result)) return false;
    if (!IpcQueueRead(OffsetSimulatorVersion, 4, &state.simulatorVersion, result)) return false;
    if (firstTry && !IpcQueueWrite(OffsetClientVersion, 2, &state.clientVersion, result)) return false;
    return true;
}

}  // namespace

bool IpcOpen(std::uint32_t requestedVersion, IpcResult& result) {
    if (state.blockStart) {
        result = IPC_ERR_OPEN;
        return false;
    }
    state.fsuipcVersion = 0;
    state.simulatorVersion = 0;

    bool foundAsFs98 = false;
    state.window = FindWindowExA(nullptr, nullptr, ClassUipc, nullptr);
    if (!state.window) {
        state.window = FindWindowExA(nullptr, nullptr, ClassFs98, nullptr);
        foundAsFs98 = true;
    }
    if (!state.window) {
        result = IPC_ERR_NOFS;
        return false;
    }

    state.message = RegisterWindowMessageA(MessageName);
    if (state.message == 0) {
        result = IPC_ERR_REGMSG;
        return false;
    }

    char blockName[64];
    std::snprintf(blockName, sizeof blockName, "%s:%X:%X", MessageName, static_cast<unsigned>(GetCurrentProcessId()), 1u);
    state.atom = GlobalAddAtomA(blockName);
    if (state.atom == 0) {
        result = IPC_ERR_ATOM;
        IpcClose();
        return false;
    }

    state.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, BlockSize, blockName);
    // The error must be read straight after the call, before anything else can change it.
    DWORD createError = GetLastError();
    if (!state.mapping || createError == ERROR_ALREADY_EXISTS) {
        result = IPC_ERR_MAP;
        IpcClose();
        return false;
    }

    state.blockStart = static_cast<unsigned char*>(MapViewOfFile(state.mapping, FILE_MAP_WRITE, 0, 0, 0));
    if (!state.blockStart) {
        result = IPC_ERR_VIEW;
        IpcClose();
        return false;
    }
    state.writePosition = state.blockStart;
    state.queued.clear();

    for (int tries = 0; tries < HandshakeTries && (state.fsuipcVersion == 0 || state.simulatorVersion == 0); ++tries) {
        if (!QueueHandshake(tries == 0, result) || !IpcProcess(result)) {
            IpcClose();
            return false;
        }
        Sleep(HandshakePauseMs);
    }

    if (state.fsuipcVersion <= OldestRejectedFsuipc || (state.simulatorVersion >> 16) != SimulatorSignature) {
        result = foundAsFs98 ? IPC_ERR_RUNNING : IPC_ERR_VERSION;
        IpcClose();
        return false;
    }
    state.simulatorVersion &= 0xFFFF;

    if (requestedVersion != 0 && requestedVersion != state.simulatorVersion) {
        result = IPC_ERR_WRONGFS;
        IpcClose();
        return false;
    }
    result = IPC_OK;
    return true;
}

void IpcClose() {
    state.window = nullptr;
    state.message = 0;
    state.writePosition = nullptr;
    state.queued.clear();
    if (state.atom) {
        GlobalDeleteAtom(state.atom);
        state.atom = 0;
    }
    if (state.blockStart) {
        UnmapViewOfFile(state.blockStart);
        state.blockStart = nullptr;
    }
    if (state.mapping) {
        CloseHandle(state.mapping);
        state.mapping = nullptr;
    }
}

bool IpcQueueRead(std::uint32_t offset, std::uint32_t size, void* destination, IpcResult& result) {
    if (!state.blockStart) {
        result = IPC_ERR_NOTOPEN;
        return false;
    }
    if (!Fits(ReadHeaderSize, size)) {
        result = IPC_ERR_SIZE;
        return false;
    }
    AppendRecord(KindRead, offset, size, destination);
    if (size != 0) {
        std::memset(state.writePosition, 0, size);
        state.writePosition += size;
    }
    result = IPC_OK;
    return true;
}

bool IpcQueueWrite(std::uint32_t offset, std::uint32_t size, const void* source, IpcResult& result) {
    if (!state.blockStart) {
        result = IPC_ERR_NOTOPEN;
        return false;
    }
    if (!Fits(WriteHeaderSize, size)) {
        result = IPC_ERR_SIZE;
        return false;
    }
    AppendRecord(KindWrite, offset, size, nullptr);
    if (size != 0) {
        // A missing source writes zeros rather than reading through a null pointer.
        if (source)
            std::memcpy(state.writePosition, source, size);
        else
            std::memset(state.writePosition, 0, size);
        state.writePosition += size;
    }
    result = IPC_OK;
    return true;
}

bool IpcProcess(IpcResult& result) {
    if (!state.blockStart) {
        result = IPC_ERR_NOTOPEN;
        return false;
    }
    if (state.writePosition == state.blockStart) {
        result = IPC_ERR_NODATA;
        return false;
    }
    PutLe32(state.writePosition, 0);
    state.writePosition = state.blockStart;
    // The queue is empty from here on, whatever the exchange brings.
    state.batch.swap(state.queued);
    state.queued.clear();

    DWORD_PTR answer = 0;
    bool sent = false;
    DWORD sendError = 0;
    for (int i = 0; i < SendTries && !sent; ++i) {
        sent = SendMessageTimeoutA(state.window, state.message, state.atom, 0, SMTO_BLOCK, SendTimeoutMs, &answer) != 0;
        if (!sent) {
            sendError = GetLastError();
            Sleep(SendPauseMs);
        }
    }
    if (!sent) {
        result = sendError == 0 ? IPC_ERR_TIMEOUT : IPC_ERR_SENDMSG;
        return false;
    }
    if (answer != 1) {
        result = IPC_ERR_DATA;
        return false;
    }
    ScatterReplies();
    result = IPC_OK;
    return true;
}
