// KvTcpIpcUdp: the blocking TCP socket (TKvBlockSocket behind TKvSocketInterface) and the
// TCP client for one data server (TKvTcpBlockClient).
// (Interface used by the shell; the socket layer completes this header.)
#pragma once

#include <string>

class TKvTcpBlockClient {
public:
    TKvTcpBlockClient();
    virtual ~TKvTcpBlockClient();
    bool Connect();
    bool Connected();
    void SetServerAddress(const std::string& text);
    void SetServerPort(const std::string& text);
};

// Starts the socket library once, when the program starts.
void StartSocketLibrary();
