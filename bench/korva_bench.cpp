// korva_bench: times the instrument's own code in this process and prints the figures as
// "name=value" lines (times in milliseconds) for bench/run.sh to put into its table.
//
//   korva_bench link  [--exchanges N] [--sleeps N]
//       the FSUIPC frame's exchange (six queued reads, one IpcProcess) against a running
//       simulator stand-in (KORVA_LINK_DIR as the stand-in has it), and the real length of
//       the frame's Sleep(1)
//   korva_bench net --port P [--frames N] [--sleeps N]
//       the network frame's six requests (SampleNetworkValues) and single RequestValue round
//       trips against a data server on 127.0.0.1:P
//   korva_bench window --pictures DIR [--recreations N] [--frames N]
//       window re-creation at 400 by 400 (RecreateWindow, as one arrow-key step does) in a
//       run folder of its own, with open handles and resident memory after 10 and after N;
//       then where a re-creation's time goes, and the cost of drawing one frame
//   korva_bench reconnect [--attempts N]
//       refused connection attempts of one TKvTcpBlockClient to a closed loopback port, as
//       the main loop makes them while the data server is away, with handles and memory
//   korva_bench probe --window ID --out FILE [--seconds S] [--poll-us N]
//       the pixel probe of the real instrument's window (PixelProbe.h), until SIGTERM
//   korva_bench latency --samples FILE --changes FILE
//       the stand-in's heading changes joined with the probe's: latency figures
//
// Nothing here judges the figures: there are no limits and no pass or fail. The exit code
// is not 0 only when a measurement could not be made (no stand-in, no display, ...).
#include "base/Configuration.h"
#include "app/Frames.h"
#include "app/MainLoop.h"
#include "display/Drawing.h"
#include "display/InstrumentWindow.h"
#include "display/Textures.h"
#include "flightdata/FPCuser.h"
#include "flightdata/FlightData.h"
#include "flightdata/NetworkSampling.h"
#include "net/KvTcpIpcUdp.h"
#include "net/ValueRequest.h"
#include "platform/OpenGL.h"
#include "platform/System.h"
#include "platform/Window.h"
#include "bench/PixelProbe.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Times one call of the function, in milliseconds.
template <typename F>
double Time(F&& f) {
    Clock::time_point start = Clock::now();
    f();
    return MillisecondsSince(start);
}

void Print(const std::string& name, double value) {
    std::printf("%s=%.4f\n", name.c_str(), value);
}
void Print(const std::string& name, long long value) {
    std::printf("%s=%lld\n", name.c_str(), value);
}
void Print(const std::string& name, const std::string& value) {
    std::printf("%s=%s\n", name.c_str(), value.c_str());
}

// Mean, median, 95th percentile, smallest and largest of the samples, printed under the name.
void PrintSamples(const std::string& name, std::vector<double> samples) {
    if (samples.empty()) return;
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    const double mean = std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(n);
    const double median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    const std::size_t p95 = std::min(n - 1, static_cast<std::size_t>(0.95 * static_cast<double>(n)));
    Print(name + "_samples", static_cast<long long>(n));
    Print(name + "_mean_ms", mean);
    Print(name + "_median_ms", median);
    Print(name + "_p95_ms", samples[p95]);
    Print(name + "_min_ms", samples.front());
    Print(name + "_max_ms", samples.back());
}

// Open file descriptors of this process (the listing's own descriptor not counted).
long long OpenHandles() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    long long count = 0;
    while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    closedir(dir);
    return count - 1;
}

// One "Name:  value kB" line of /proc/self/status, as a number; -1 when absent.
long long StatusField(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':')
            return std::atoll(line.c_str() + length + 1);
    return -1;
}

// Handles, resident memory and threads, printed under the name.
void PrintResources(const std::string& name) {
    Print(name + "_handles", OpenHandles());
    Print(name + "_rss_kb", StatusField("VmRSS"));
    Print(name + "_threads", StatusField("Threads"));
}

// Command-line options "--name value".
struct Options {
    std::map<std::string, std::string> values;

    long long Number(const std::string& name, long long fallback) const {
        auto it = values.find(name);
        return it == values.end() ? fallback : std::atoll(it->second.c_str());
    }
    std::string Text(const std::string& name) const {
        auto it = values.find(name);
        return it == values.end() ? std::string() : it->second;
    }
};

// The real length of the frame's 1 ms pause.
void MeasureSleep(long long count) {
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(count));
    for (long long i = 0; i < count; ++i) samples.push_back(Time([] { Sleep(1); }));
    PrintSamples("sleep1", samples);
}

// ---- link -----------------------------------------------------------------------------

// The reads DrawSceneFsuipc queues each frame, into the same fields.
bool FrameExchange(RawFlightValues& raw) {
    IpcResult result = IPC_OK;
    bool queued = true;
    for (const SimulatorValue& value : SimulatorValues)
        queued = IpcQueueRead(value.offset, value.size, FieldAddress(raw, value), result) && queued;
    return IpcProcess(result) && queued;
}

int RunLink(const Options& options) {
    const long long exchanges = options.Number("exchanges", 5000);
    IpcResult result = IPC_OK;
    double openTime = 0;
    bool opened = false;
    openTime = Time([&] { opened = IpcOpen(0, result); });
    if (!opened) {
        std::fprintf(stderr, "korva_bench: the link did not open (code %d); is the stand-in running?\n",
                     static_cast<int>(result));
        return 1;
    }
    Print("link_open_ms", openTime);

    RawFlightValues raw;
    long long failed = 0;
    for (int i = 0; i < 200; ++i) failed += FrameExchange(raw) ? 0 : 1;  // warm-up
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(exchanges));
    for (long long i = 0; i < exchanges; ++i) {
        bool ok = true;
        samples.push_back(Time([&] { ok = FrameExchange(raw); }));
        if (!ok) ++failed;
    }
    Print("exchange_failed", failed);
    PrintSamples("exchange", samples);
    MeasureSleep(options.Number("sleeps", 1000));

    // The frame's sampling as the loop runs it, drawing left out: exchange, then the pause.
    const long long loops = std::max(1LL, exchanges / 5);
    double total = Time([&] {
        for (long long i = 0; i < loops; ++i) {
            FrameExchange(raw);
            Sleep(1);
        }
    });
    Print("exchange_and_sleep_loop_mean_ms", total / static_cast<double>(loops));
    IpcClose();
    return failed ? 1 : 0;
}

// ---- net ------------------------------------------------------------------------------

int RunNet(const Options& options) {
    const std::string port = options.Text("port");
    const long long frames = options.Number("frames", 1000);
    if (port.empty()) {
        std::fprintf(stderr, "korva_bench net: --port is needed\n");
        return 2;
    }
    StartSocketLibrary();
    TcpClient = new TKvTcpBlockClient();
    TcpClient->SetServerPort(port);
    TcpClient->SetServerAddress("127.0.0.1");
    double connectTime = 0;
    bool connected = false;
    connectTime = Time([&] { connected = TcpClient->Connect(); });
    if (!connected) {
        std::fprintf(stderr, "korva_bench net: no data server on 127.0.0.1:%s\n", port.c_str());
        return 1;
    }
    Print("connect_ms", connectTime);

    for (int i = 0; i < 100; ++i) SampleNetworkValues();  // warm-up

    // The six requests of one network frame, by the frame's own sampling.
    std::vector<double> six;
    six.reserve(static_cast<std::size_t>(frames));
    for (long long i = 0; i < frames; ++i) six.push_back(Time([] { SampleNetworkValues(); }));
    PrintSamples("six_requests", six);

    // Single round trips: the frame's first request, many times.
    std::vector<double> single;
    single.reserve(static_cast<std::size_t>(frames * 6));
    for (long long i = 0; i < frames * 6; ++i) single.push_back(Time([] { RequestValue(1408, "4", "5"); }));
    PrintSamples("request", single);

    MeasureSleep(options.Number("sleeps", 1000));
    const bool stillConnected = TcpClient->Connected();
    Print("still_connected", static_cast<long long>(stillConnected ? 1 : 0));
    delete TcpClient;
    TcpClient = nullptr;
    return stillConnected ? 0 : 1;
}

// ---- window ---------------------------------------------------------------------------

// A fresh run folder holding the pictures and the icon, made the current directory.
std::string MakeRunFolder(const std::string& pictures) {
    char pattern[] = "/tmp/korva-bench-run-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("cannot make a run folder");
    namespace fs = std::filesystem;
    std::vector<std::string> names = {FontFile, IconFile};
    for (const PictureFile& file : PictureFiles) names.push_back(file.name);
    for (const std::string& name : names) fs::copy_file(fs::path(pictures) / name, fs::path(pattern) / name);
    if (chdir(pattern) != 0) throw std::runtime_error("cannot enter the run folder");
    return pattern;
}

// What the main loop does between two steps: every waiting message, then one frame.
void LoopPass() {
    MSG message{};
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (WindowActive) DrawSceneFsuipc();
    SwapBuffers(DeviceContext);
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

// The platform calls of one window creation and destruction, each timed on its own, with
// the instrument's class, styles and pixel format but neither pictures nor font.
void MeasureWindowCalls(int count) {
    std::map<std::string, std::vector<double>> samples;
    for (int i = 0; i < count; ++i) {
        WNDCLASSA wc{};
        wc.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
        wc.lpfnWndProc = PlainWindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.lpszClassName = "KorvaBenchPlain";
        samples["call_icon"].push_back(Time([&] {
            wc.hIcon = static_cast<HICON>(LoadImageA(nullptr, IconFile, IMAGE_ICON, 0, 0,
                                                     LR_LOADFROMFILE | LR_DEFAULTSIZE));
        }));
        HWND window = nullptr;
        HDC dc = nullptr;
        HGLRC rc = nullptr;
        samples["call_create"].push_back(Time([&] {
            RegisterClassA(&wc);
            window = CreateWindowExA(WS_EX_APPWINDOW | WS_EX_WINDOWEDGE, wc.lpszClassName, "korva bench",
                                     WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, WindowX, WindowY,
                                     WindowWidth, WindowHeight, nullptr, nullptr, wc.hInstance, nullptr);
        }));
        if (!window) throw std::runtime_error("the window could not be created");
        samples["call_context"].push_back(Time([&] {
            dc = GetDC(window);
            PIXELFORMATDESCRIPTOR pfd{};
            pfd.nSize = sizeof pfd;
            pfd.nVersion = 1;
            pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
            pfd.iPixelType = PFD_TYPE_RGBA;
            pfd.cColorBits = 32;
            pfd.cDepthBits = 32;
            pfd.iLayerType = PFD_MAIN_PLANE;
            SetPixelFormat(dc, ChoosePixelFormat(dc, &pfd), &pfd);
            rc = wglCreateContext(dc);
            wglMakeCurrent(dc, rc);
        }));
        samples["call_show"].push_back(Time([&] { ShowWindow(window, SW_SHOW); }));
        samples["call_foreground"].push_back(Time([&] {
            SetForegroundWindow(window);
            SetFocus(window);
        }));
        samples["call_pictures_font"].push_back(Time([] {
            LoadTextures();
            MakeFontLists();
        }));
        samples["call_destroy"].push_back(Time([&] {
            wglMakeCurrent(dc, nullptr);
            wglDeleteContext(rc);
            ReleaseDC(window, dc);
            DestroyWindow(window);
            UnregisterClassA(wc.lpszClassName, wc.hInstance);
        }));
    }
    for (auto& [name, values] : samples) PrintSamples(name, values);
}

int RunWindow(const Options& options) {
    const std::string pictures = options.Text("pictures");
    const long long recreations = options.Number("recreations", 1000);
    const long long frames = options.Number("frames", 150);
    if (pictures.empty()) {
        std::fprintf(stderr, "korva_bench window: --pictures is needed\n");
        return 2;
    }
    const std::string run = MakeRunFolder(pictures);
    ReadConfiguration();
    Print("window_outer_width", static_cast<long long>(WindowWidth));
    Print("window_outer_height", static_cast<long long>(WindowHeight));
    Print("window_framed", static_cast<long long>(Borderless ? 0 : 1));
    PrintResources("before_window");

    // The first creation, as RunMainLoop makes it (in FSUIPC mode it also opens the link).
    bool created = false;
    Recreating = true;
    double first = Time([&] {
        created = CreateInstrumentWindow(titles::Fsuipc, WindowWidth, WindowHeight, 32, Borderless);
    });
    Recreating = false;
    if (!created) {
        std::fprintf(stderr, "korva_bench window: the window could not be created\n");
        return 1;
    }
    Print("first_creation_ms", first);
    // With nothing queued, an open link answers "nothing queued", a closed one "not open".
    IpcResult probe = IPC_OK;
    IpcProcess(probe);
    Print("link_open", static_cast<long long>(probe == IPC_ERR_NODATA ? 1 : 0));
    LoopPass();
    PrintResources("after_0");

    // Arrow-key steps: RecreateWindow, then what the loop does before the next step.
    std::vector<double> recreate;
    std::vector<double> firstFrame;
    recreate.reserve(static_cast<std::size_t>(recreations));
    for (long long i = 1; i <= recreations; ++i) {
        bool ok = true;
        recreate.push_back(Time([&] { ok = RecreateWindow(titles::Fsuipc); }));
        if (!ok) {
            std::fprintf(stderr, "korva_bench window: re-creation %lld failed\n", i);
            return 1;
        }
        firstFrame.push_back(Time(LoopPass));
        if (i == 10 || i == 100 || i == recreations) PrintResources("after_" + std::to_string(i));
    }
    PrintSamples("recreate", recreate);
    PrintSamples("first_frame", firstFrame);

    // Frames in the last window: the whole FSUIPC frame with its swap, then the drawing alone.
    std::vector<double> frame, drawing;
    for (long long i = 0; i < frames; ++i)
        frame.push_back(Time([] {
            DrawSceneFsuipc();
            SwapBuffers(DeviceContext);
        }));
    RawFlightValues raw;
    raw.trueHeading = 0x40000000;
    for (long long i = 0; i < frames; ++i)
        drawing.push_back(Time([&] {
            HandOverToDrawing(raw);
            SwapBuffers(DeviceContext);
        }));
    // The same split in two: drawing until the GL has finished it, then the swap alone.
    std::vector<double> drawOnly, swapOnly;
    for (long long i = 0; i < frames; ++i) {
        drawOnly.push_back(Time([&] {
            HandOverToDrawing(raw);
            glFinish();
        }));
        swapOnly.push_back(Time([] { SwapBuffers(DeviceContext); }));
    }
    // And the drawing by its three parts, each finished before the next begins.
    std::vector<double> dial, needles, overlays;
    const InstrumentAngles angles = ConvertFlightValues(raw, Needle1Vor, Needle2Vor);
    for (long long i = 0; i < frames; ++i) {
        dial.push_back(Time([&] {
            DrawDial(angles.card);
            glFinish();
        }));
        needles.push_back(Time([&] {
            DrawNeedles(angles.needle1, angles.needle2);
            glFinish();
        }));
        overlays.push_back(Time([] {
            DrawOverlays();
            glFinish();
        }));
        SwapBuffers(DeviceContext);
    }
    PrintSamples("draw_dial", dial);
    PrintSamples("draw_needles", needles);
    PrintSamples("draw_overlays", overlays);
    PrintSamples("frame_fsuipc", frame);
    PrintSamples("draw_swap", drawing);
    PrintSamples("draw_finish", drawOnly);
    PrintSamples("swap", swapOnly);
    DestroyInstrumentWindow();

    // Where a re-creation's time goes: the same platform calls one by one.
    MeasureWindowCalls(static_cast<int>(std::min<long long>(recreations, 20)));
    IpcClose();
    std::filesystem::remove_all(run);
    return 0;
}

// ---- reconnect ------------------------------------------------------------------------

// A loopback port nobody listens on: one the system hands out, given back at once.
std::string ClosedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no loopback port");
    close(fd);
    return std::to_string(ntohs(address.sin_port));
}

int RunReconnect(const Options& options) {
    const long long attempts = options.Number("attempts", 10000);
    StartSocketLibrary();
    const std::string port = ClosedPort();
    Print("closed_port", port);
    PrintResources("before_attempts");

    // One client, as the window's: the loop sets port and address before every attempt.
    TKvTcpBlockClient client;
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(attempts));
    long long accepted = 0;
    for (long long i = 1; i <= attempts; ++i) {
        bool connected = false;
        samples.push_back(Time([&] {
            client.SetServerPort(port);
            client.SetServerAddress("127.0.0.1");
            connected = client.Connect();
        }));
        if (connected) {
            ++accepted;
            client.Disconnect();
        }
        if (i == 10 || i == 1000 || i == attempts) PrintResources("after_attempts_" + std::to_string(i));
    }
    Print("attempts_connected", accepted);
    PrintSamples("attempt", samples);
    return 0;
}

int Usage() {
    std::fputs("usage: korva_bench link|net|window|reconnect [--option value ...]\n"
               "  link      [--exchanges N] [--sleeps N]   (stand-in serving the link)\n"
               "  net       --port P [--frames N] [--sleeps N]\n"
               "  window    --pictures DIR [--recreations N] [--frames N]   (needs DISPLAY)\n"
               "  reconnect [--attempts N]\n"
               "  probe     --window ID --out FILE [--seconds S] [--poll-us N]   (needs DISPLAY)\n"
               "  latency   --samples FILE --changes FILE\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    Options options;
    for (int i = 2; i < argc; i += 2) {
        std::string name = argv[i];
        if (name.rfind("--", 0) != 0 || i + 1 >= argc) return Usage();
        options.values[name.substr(2)] = argv[i + 1];
    }
    try {
        int code = 2;
        if (command == "link") code = RunLink(options);
        else if (command == "net") code = RunNet(options);
        else if (command == "window") code = RunWindow(options);
        else if (command == "reconnect") code = RunReconnect(options);
        else if (command == "probe")
            code = RunPixelProbe(std::strtoul(options.Text("window").c_str(), nullptr, 0), options.Text("out"),
                                 static_cast<double>(options.Number("seconds", 300)),
                                 static_cast<long>(options.Number("poll-us", 250)));
        else if (command == "latency") code = RunLatencyJoin(options.Text("samples"), options.Text("changes"));
        else return Usage();
        std::fflush(stdout);
        return code;
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "korva_bench %s: %s\n", command.c_str(), error.what());
        return 1;
    }
}
