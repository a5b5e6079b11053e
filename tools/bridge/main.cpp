// korva-bridge: feeds the VOR/ADF bearing indicator from X-Plane, FlightGear, the demo
// flight or (on Windows) the simulator's FSUIPC. The values land in an offset memory like the simulator's, served to instruments
// by the stand-in's data server (--serve) and its end of the FSUIPC link (--link).
// One thread reads the source and keeps the status; the servers have threads of their own.
#include "Console.h"
#include "FsuipcSource.h"
#include "Options.h"
#include "Sources.h"

#include "DataServer.h"
#include "OffsetMemory.h"
#include "SimulatorLink.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr char LinkClass[] = "FS98MAIN";
constexpr auto SilentAfter = std::chrono::seconds(2);
constexpr auto RefreshEvery = std::chrono::milliseconds(500);
constexpr auto LogStatusEvery = std::chrono::seconds(10);

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The status line and the log: events (the source silent or back, instruments coming and
// going) go out as lines of their own; the status is redrawn in place on a terminal and
// logged now and then otherwise.
class Status {
public:
    Status(bool terminal, std::string source, std::string shortName, const DataServer* server,
           const SimulatorLink* link)
        : terminal_(terminal), source_(std::move(source)), shortName_(std::move(shortName)), server_(server),
          link_(link) {
        start_ = lastRefresh_ = lastLog_ = Clock::now();
    }

    void Log(const std::string& text) {
        char stamp[16] = "";
        std::time_t now = std::time(nullptr);
        if (std::tm* local = std::localtime(&now)) std::strftime(stamp, sizeof stamp, "%H:%M:%S", local);
        if (terminal_) std::fputs("\r\033[K", stdout);
        std::printf("[%s] %s\n", stamp, text.c_str());
        if (terminal_ && drawn_) Draw();
        std::fflush(stdout);
    }

    void Samples(int count, Clock::time_point now) {
        if (count <= 0) return;
        samples_ += static_cast<unsigned long long>(count);
        if (!heard_)
            Log("receiving from " + source_);
        else if (silent_)
            Log("samples from " + source_ + " again");
        heard_ = true;
        silent_ = false;
        lastSample_ = now;
    }

    void Tick(Clock::time_point now) {
        if (!silent_ && now - (heard_ ? lastSample_ : start_) > SilentAfter) {
            silent_ = true;
            Log(heard_ ? "no sample from " + source_ + " for 2 s; serving the last values"
                       : "no sample from " + source_ + " yet; is the simulator running?");
        }
        if (server_) {
            std::size_t clients = server_->ConnectedClients();
            if (clients != clients_) {
                clients_ = clients;
                Log("data server: " + Clients(clients) + " connected");
            }
        }
        if (now - lastRefresh_ >= RefreshEvery) {
            double elapsed = Seconds(now - lastRefresh_);
            rate_ = (samples_ - samplesAtRefresh_) / elapsed;
            samplesAtRefresh_ = samples_;
            if (link_) {
                unsigned long long exchanges = link_->Stats().exchanges;
                exchangeRate_ = (exchanges - exchangesAtRefresh_) / elapsed;
                exchangesAtRefresh_ = exchanges;
            }
            lastRefresh_ = now;
            if (terminal_) {
                Draw();
                std::fflush(stdout);
            }
        }
        if (!terminal_ && now - lastLog_ >= LogStatusEvery) {
            lastLog_ = now;
            Log(Text(now));
        }
    }

    // Ends the line being redrawn, so that what follows starts on a line of its own.
    void Finish() {
        if (terminal_ && drawn_) std::fputs("\n", stdout);
        drawn_ = false;
        std::fflush(stdout);
    }

private:
    std::string Text(Clock::time_point now) const {
        char text[256];
        std::string age = "no sample yet";
        if (heard_) {
            std::snprintf(text, sizeof text, "last %.1f s ago", Seconds(now - lastSample_));
            age = text;
        }
        std::snprintf(text, sizeof text, "%s | %.1f samples/s | %s", shortName_.c_str(), rate_, age.c_str());
        std::string line = text;
        if (server_) line += " | " + Clients(clients_);
        if (link_) {
            std::snprintf(text, sizeof text, " | link %.0f/s", exchangeRate_);
            line += text;
        }
        return line;
    }

    static std::string Clients(std::size_t count) {
        return std::to_string(count) + (count == 1 ? " instrument" : " instruments");
    }

    // A line wider than the terminal would wrap, and the carriage return would then redraw
    // only its last part: it is cut to fit.
    void Draw() {
        std::string line = Text(Clock::now());
        std::size_t columns = static_cast<std::size_t>(TerminalColumns());
        if (columns > 1 && line.size() >= columns) line.resize(columns - 1);
        std::fputs(("\r\033[K" + line).c_str(), stdout);
        drawn_ = true;
    }

    bool terminal_;
    std::string source_, shortName_;
    const DataServer* server_;
    const SimulatorLink* link_;
    Clock::time_point start_, lastSample_, lastRefresh_, lastLog_;
    unsigned long long samples_ = 0, samplesAtRefresh_ = 0, exchangesAtRefresh_ = 0;
    double rate_ = 0, exchangeRate_ = 0;
    std::size_t clients_ = 0;  // instruments connected to the data server
    bool heard_ = false, silent_ = false, drawn_ = false;
};

std::unique_ptr<Source> MakeSource(const BridgeOptions& options) {
    switch (options.source) {
    case SourceKind::XPlane:
        return std::make_unique<XPlaneSource>(options.host, options.port);
    case SourceKind::FlightGear:
        return std::make_unique<FlightGearSource>(options.port);
    case SourceKind::Demo:
        return std::make_unique<DemoSource>(options.speed);
    case SourceKind::Fsuipc:
#ifdef _WIN32
        return std::make_unique<FsuipcSource>();
#else
        break;
#endif
    }
    return nullptr;
}

int Fail(const std::string& message, int code) {
    std::fprintf(stderr, "korva-bridge: %s\n", message.c_str());
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    BridgeOptions options;
    std::string error;
    switch (ParseBridgeOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    case OptionsResult::Help:
        std::fputs(BridgeUsage, stdout);
        return 0;
    case OptionsResult::Bad:
        return Fail(error + " (korva-bridge --help tells more)", 2);
    case OptionsResult::Run:
        break;
    }
    std::unique_ptr<Source> source = MakeSource(options);
    if (!source)
        return Fail("--from fsuipc reads FSUIPC, which runs on Windows only; here use xplane, flightgear or demo", 2);

    InstallStopHandlers();
    OffsetMemory memory;
    WriteDefaultVersions(memory);

    if (!source->Open(error)) return Fail(error, 2);
    std::unique_ptr<DataServer> server;
    if (options.serve) {
        server = std::make_unique<DataServer>(memory);
        if (!server->Start(options.bindAddress, options.servePort, error)) {
            source->Close();
            return Fail(error, 2);
        }
    }
    std::unique_ptr<SimulatorLink> link;
    if (options.link) {
        link = std::make_unique<SimulatorLink>(memory);
        if (!link->Start(LinkClass, error)) {
            source->Close();
            if (server) server->Stop();
            return Fail("cannot serve the FSUIPC link: " + error, 2);
        }
    }

    Status status(StandardOutputIsTerminal(), source->Describe(), source->ShortName(), server.get(), link.get());
    status.Log("reading from " + source->Describe());
    std::string notice;
    while (source->TakeNotice(notice)) status.Log(notice);
    if (server)
        status.Log("data server listening on " + options.bindAddress + " port " + std::to_string(server->Port()));
    if (link) status.Log(std::string("serving the FSUIPC link (") + LinkClass + ") on this machine");

    RawFlightValues raw;
    while (!StopRequested()) {
        int samples = source->Poll(100, raw);
        Clock::time_point now = Clock::now();
        while (source->TakeNotice(notice)) status.Log(notice);
        if (samples > 0) {
            for (const SimulatorValue& value : SimulatorValues)
                memory.WriteUnsigned(value.offset, value.size, FieldBits(raw, value));
        }
        status.Samples(samples, now);
        status.Tick(now);
    }

    status.Finish();
    source->Close();
    if (link) link->Stop();
    if (server) server->Stop();
    status.Log("stopped");
    return 0;
}
