// FPCuser: the client side of the FSUIPC link. A named 32 KB shared block carries queued
// read and write records to the simulator, handed over with one window message per batch.
#pragma once

#include <cstdint>

// Result codes of the link operations.
typedef std::int32_t IpcResult;
enum : IpcResult {
    IPC_OK = 0,
    IPC_ERR_OPEN = 1,
    IPC_ERR_NOFS = 2,
    IPC_ERR_REGMSG = 3,
    IPC_ERR_ATOM = 4,
    IPC_ERR_MAP = 5,
    IPC_ERR_VIEW = 6,
    IPC_ERR_VERSION = 7,
    IPC_ERR_WRONGFS = 8,
    IPC_ERR_NOTOPEN = 9,
    IPC_ERR_NODATA = 10,
    IPC_ERR_TIMEOUT = 11,
    IPC_ERR_SENDMSG = 12,
    IPC_ERR_DATA = 13,
    IPC_ERR_RUNNING = 14,
    IPC_ERR_SIZE = 15,
};

bool IpcOpen(std::uint32_t requestedVersion, IpcResult& result);
void IpcClose();
bool IpcQueueRead(std::uint32_t offset, std::uint32_t size, void* destination, IpcResult& result);
bool IpcQueueWrite(std::uint32_t offset, std::uint32_t size, const void* source, IpcResult& result);
bool IpcProcess(IpcResult& result);
