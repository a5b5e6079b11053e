// korva-bridge's command line.
#include "Options.h"

#include "FlightGearProtocol.h"
#include "XPlaneProtocol.h"

#include <cerrno>
#include <cstdlib>

const char BridgeUsage[] =
    "usage: korva-bridge --from SOURCE [--serve PORT [--bind ADDR]] [--link]\n"
    "       korva-bridge --help\n"
    "Feeds the VOR/ADF bearing indicator from a flight simulator.\n"
    "\n"
    "SOURCE is one of:\n"
    "  xplane[=HOST[:PORT]]  X-Plane 11 or 12 over UDP (default 127.0.0.1:49000)\n"
    "  flightgear[=PORT]     FlightGear's generic protocol with korva.xml, received on UDP\n"
    "                        PORT on every interface (default 5510); start FlightGear with\n"
    "                        --generic=socket,out,20,127.0.0.1,5510,udp,korva\n"
    "                        (korva.xml comes in share/korva-voradf; copy it into\n"
    "                        FlightGear's Protocol folder)\n"
    "  demo [--speed N]      the demo circuit, flown N times faster than real time (default 1)\n"
    "  fsuipc                the simulator's FSUIPC on this machine (Windows only; with\n"
    "                        --serve, to feed instruments on other machines)\n"
    "\n"
    "Where the values go (one or both):\n"
    "  --serve PORT   the data server for instruments in network mode (any number of them),\n"
    "                 on TCP PORT (0: any free port, printed at start)\n"
    "  --bind ADDR    the address the data server listens on: 127.0.0.1 (the default) serves\n"
    "                 this machine only; a local address of this machine, or 0.0.0.0 for\n"
    "                 every interface, serves instruments on other machines too\n"
    "  --link         the simulator end of the FSUIPC link, for an instrument in FSUIPC mode\n"
    "                 on this machine (not with --from fsuipc)\n"
    "\n"
    "A status line shows the source, samples a second, the age of the last sample and the\n"
    "instruments connected. Ctrl-C ends the bridge. Exit codes: 0 after Ctrl-C or a\n"
    "termination request, 2 for a bad argument, a port in use or a link already served.\n";

namespace {

// Four decimal numbers 0..255 separated by dots, as in 192.168.1.20.
bool IsDottedIPv4(const std::string& text) {
    int parts = 0;
    std::size_t start = 0;
    for (;;) {
        std::size_t dot = text.find('.', start);
        std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(part) > 255)
            return false;
        ++parts;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return parts == 4;
}

// A decimal port number, 0..65535 (0 only where allowZero).
bool ParsePort(const std::string& text, bool allowZero, std::uint16_t& port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > 65535 || (value == 0 && !allowZero)) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

bool ParseSource(const std::string& text, BridgeOptions& options, std::string& error) {
    std::size_t equals = text.find('=');
    std::string kind = text.substr(0, equals);
    bool hasValue = equals != std::string::npos;
    std::string value = hasValue ? text.substr(equals + 1) : "";
    if (kind == "xplane") {
        options.source = SourceKind::XPlane;
        options.host = "127.0.0.1";
        options.port = xplane::DefaultPort;
        if (!hasValue) return true;
        std::size_t colon = value.rfind(':');
        options.host = value.substr(0, colon);
        if (options.host.empty()) {
            error = "--from xplane=HOST[:PORT] needs a host";
            return false;
        }
        if (colon != std::string::npos && !ParsePort(value.substr(colon + 1), false, options.port)) {
            error = "bad X-Plane port \"" + value.substr(colon + 1) + "\" (1 to 65535)";
            return false;
        }
        return true;
    }
    if (kind == "flightgear") {
        options.source = SourceKind::FlightGear;
        options.port = flightgear::DefaultPort;
        if (hasValue && !ParsePort(value, true, options.port)) {
            error = "bad FlightGear port \"" + value + "\" (0 to 65535)";
            return false;
        }
        return true;
    }
    if ((kind == "demo" || kind == "fsuipc") && !hasValue) {
        options.source = kind == "demo" ? SourceKind::Demo : SourceKind::Fsuipc;
        return true;
    }
    error = "unknown source \"" + text + "\" (xplane, flightgear, demo or fsuipc)";
    return false;
}

}  // namespace

OptionsResult ParseBridgeOptions(const std::vector<std::string>& args, BridgeOptions& options, std::string& error) {
    options = BridgeOptions{};
    bool haveSource = false, haveSpeed = false, haveBind = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        bool hasValue = i + 1 < args.size();
        if (option == "--help" || option == "-h") return OptionsResult::Help;
        if ((option == "--from" || option == "--serve" || option == "--bind" || option == "--speed") && !hasValue) {
            error = option + " needs a value";
            return OptionsResult::Bad;
        }
        if (option == "--from") {
            if (haveSource) {
                error = "only one --from";
                return OptionsResult::Bad;
            }
            if (!ParseSource(args[++i], options, error)) return OptionsResult::Bad;
            haveSource = true;
        } else if (option == "--serve") {
            if (!ParsePort(args[++i], true, options.servePort)) {
                error = "bad port \"" + args[i] + "\" for --serve (0 to 65535)";
                return OptionsResult::Bad;
            }
            options.serve = true;
        } else if (option == "--bind") {
            if (!IsDottedIPv4(args[++i])) {
                error = "--bind needs a dotted IPv4 address such as 127.0.0.1 or 0.0.0.0, not \"" + args[i] + "\"";
                return OptionsResult::Bad;
            }
            options.bindAddress = args[i];
            haveBind = true;
        } else if (option == "--speed") {
            char* end = nullptr;
            errno = 0;
            options.speed = std::strtod(args[++i].c_str(), &end);
            if (errno || *end || !(options.speed > 0) || options.speed > 1000) {
                error = "bad speed \"" + args[i] + "\" (more than 0, at most 1000)";
                return OptionsResult::Bad;
            }
            haveSpeed = true;
        } else if (option == "--link") {
            options.link = true;
        } else {
            error = "unknown argument \"" + option + "\"";
            return OptionsResult::Bad;
        }
    }
    if (!haveSource) {
        error = "--from SOURCE is missing";
        return OptionsResult::Bad;
    }
    if (!options.serve && !options.link) {
        error = "nowhere to send the values: give --serve PORT, --link or both";
        return OptionsResult::Bad;
    }
    if (haveBind && !options.serve) {
        error = "--bind belongs to --serve";
        return OptionsResult::Bad;
    }
    if (haveSpeed && options.source != SourceKind::Demo) {
        error = "--speed belongs to --from demo";
        return OptionsResult::Bad;
    }
    if (options.link && options.source == SourceKind::Fsuipc) {
        error = "--link with --from fsuipc would serve the link the bridge reads from; use --serve";
        return OptionsResult::Bad;
    }
    return OptionsResult::Run;
}
