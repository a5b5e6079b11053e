// The exchange format of the FSUIPC link's shared block, as both ends see it: the client
// (FPCuser) queues records into it, a simulator end carries them out.
#pragma once

#include <cstdint>

namespace linkblock {

// The registered window message that hands a block over, and the name the block's atom has.
inline constexpr char MessageName[] = "FsasmLib:IPC";

inline constexpr std::uint32_t BlockSize = 0x8000;
// Requests, terminator included, may fill the block only up to here.
inline constexpr std::uint64_t BlockLimit = 0x7F00;

// Records: kind, offset, size (and, for a read, the destination field), then the data.
inline constexpr std::uint32_t KindRead = 1;
inline constexpr std::uint32_t KindWrite = 2;
inline constexpr std::uint32_t ReadHeaderSize = 16;
inline constexpr std::uint32_t WriteHeaderSize = 12;
// A 32-bit zero after the last record.
inline constexpr std::uint32_t TerminatorSize = 4;

}  // namespace linkblock
