// The stand-in simulator's end of the FSUIPC link: it serves the simulator's window class
// on the local transport, reads the block's name from the atom, carries out the block's
// read and write records against the offset memory and answers 1. For tests it can be told
// to misbehave in the ways a real simulator end might.
#pragma once

#include "OffsetMemory.h"
#include "flightdata/LinkBlock.h"
#include "LinkServer.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

enum class Misbehaviour {
    None,
    Silent,    // never answers (the client's sends time out)
    Answer,    // carries out the block, then answers a chosen value instead of 1
    Garbage,   // carries out the block, then fills all of it with pseudo-random bytes
    Scramble,  // carries out the block, then spoils every header's offset, size and address
               // and turns the terminator into a read kind; the data areas stay right
    BadKind,   // carries out the block, then gives the second record an unknown kind
    HighKind,  // carries out the block, then sets bit 8 of the second record's kind
};

// The version words a client checks in its handshake, as a simulator end that passes them
// reports: FSUIPC's version at 0x3304, the simulator's signature and version at 0x3308.
constexpr std::uint32_t DefaultFsuipcVersion = 0x40000000;
constexpr std::uint32_t DefaultSimulatorVersion = 0xFADE0007;
// Stores both in the memory.
inline void WriteDefaultVersions(OffsetMemory& memory) {
    memory.WriteUnsigned(0x3304, 4, DefaultFsuipcVersion);
    memory.WriteUnsigned(0x3308, 4, DefaultSimulatorVersion);
}

struct LinkStats {
    std::uint64_t exchanges = 0;  // blocks carried out
    std::uint64_t reads = 0;
    std::uint64_t writes = 0;
    std::uint32_t clientVersion = 0;  // last written at 0x330A
};

// Where one record of a block was found.
struct BlockRecord {
    std::size_t position;
    std::uint32_t kind;
};

// Carries out the records of a block of size bytes, from its start to the terminator, and
// returns them. A block in which a record of another kind than 1 or 2 (compared as 32-bit
// values), or one that does not fit, comes before the terminator is malformed: nothing of it
// is carried out, complete is false and nothing is returned.
// The version words at 0x3304-0x330B are read-only to clients, as in the simulator: the
// client's version, written at 0x330A, is kept in clientVersion and does not overwrite the
// simulator version's signature that a later handshake reads at 0x3308.
std::vector<BlockRecord> CarryOutBlock(unsigned char* block, std::size_t size, OffsetMemory& memory,
                                       std::uint32_t& clientVersion, bool& complete);

class SimulatorLink {
public:
    static constexpr std::size_t BlockSize = linkblock::BlockSize;

    explicit SimulatorLink(OffsetMemory& memory) : memory_(memory) {}
    ~SimulatorLink() { Stop(); }

    // Serves the class on a thread of its own until Stop.
    bool Start(const char* className, std::string& error);
    void Stop();

    void SetMisbehaviour(Misbehaviour mode, std::uint32_t answer = 1);
    LinkStats Stats() const;

private:
    bool Handle(const LinkRequest& request, DWORD& answer);
    bool Exchange(WPARAM atom, Misbehaviour mode);

    OffsetMemory& memory_;
    LinkServer server_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    UINT ipcMessage_ = 0;
    mutable std::mutex mutex_;  // guards the mode, the answer and the counts
    Misbehaviour mode_ = Misbehaviour::None;
    std::uint32_t answer_ = 1;
    LinkStats stats_;
    std::uint32_t noise_ = 0x2545F491;
};
