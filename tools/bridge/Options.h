// korva-bridge's command line: where the values come from (--from), and the doors they go
// out through (--serve for the data server, --link for the FSUIPC link on this machine).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class SourceKind { XPlane, FlightGear, Demo, Fsuipc };

struct BridgeOptions {
    SourceKind source = SourceKind::Demo;
    std::string host = "127.0.0.1";  // X-Plane's machine
    std::uint16_t port = 0;          // X-Plane's port, or the port FlightGear sends to
    double speed = 1.0;              // demo flight
    bool serve = false;
    std::uint16_t servePort = 0;     // 0: any free port (the one taken is printed)
    std::string bindAddress = "127.0.0.1";
    bool link = false;
};

enum class OptionsResult { Run, Help, Bad };

extern const char BridgeUsage[];

// The arguments after the program's name. Bad: error says what is wrong.
OptionsResult ParseBridgeOptions(const std::vector<std::string>& args, BridgeOptions& options, std::string& error);
