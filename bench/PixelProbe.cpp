// The pixel probe reads the window's band through MIT-SHM where the server offers it (a
// round trip and no copy over the socket), else with plain XGetImage. It sees a frame once
// the X server has it: under Xvfb with Mesa's software rasteriser that is the PutImage the
// swap sends, so its times run slightly after the swap's return, never before.
#include "bench/PixelProbe.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <time.h>

namespace {

volatile std::sig_atomic_t probeStop = 0;

void StopProbe(int) {
    probeStop = 1;
}

std::int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// X errors (the window gone while polling) end the probe instead of the process.
bool xFailed = false;
int NoteXError(Display*, XErrorEvent*) {
    xFailed = true;
    return 0;
}

// The value at the fraction q of the sorted values (nearest rank).
double Quantile(const std::vector<double>& sorted, double q) {
    if (sorted.empty()) return 0;
    std::size_t rank = static_cast<std::size_t>(q * static_cast<double>(sorted.size()) + 0.999999);
    return sorted[std::min(sorted.size(), std::max<std::size_t>(rank, 1)) - 1];
}

void PrintSpan(const char* name, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::printf("%s_samples=%zu\n", name, values.size());
    if (values.empty()) return;
    std::printf("%s_median_ms=%.4f\n%s_p99_ms=%.4f\n%s_max_ms=%.4f\n", name, Quantile(values, 0.5), name,
                Quantile(values, 0.99), name, values.back());
}

}  // namespace

int RunPixelProbe(unsigned long window, const std::string& outPath, double seconds, long pollUs) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) throw std::runtime_error("no X display");
    XSetErrorHandler(NoteXError);
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes) || xFailed)
        throw std::runtime_error("no such window");
    const int width = attributes.width;
    const int rows = std::min(8, attributes.height);
    const int top = (attributes.height - rows) / 2;

    // The shared segment, where the server can attach it (not over a remote connection).
    XShmSegmentInfo segment{};
    segment.shmid = -1;
    segment.shmaddr = reinterpret_cast<char*>(-1);
    XImage* image = nullptr;
    bool shared = false;
    if (XShmQueryExtension(display))
        image = XShmCreateImage(display, attributes.visual, static_cast<unsigned>(attributes.depth), ZPixmap,
                                nullptr, &segment, static_cast<unsigned>(width), static_cast<unsigned>(rows));
    if (image) segment.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(image->bytes_per_line) * rows, IPC_CREAT | 0600);
    if (segment.shmid >= 0) segment.shmaddr = static_cast<char*>(shmat(segment.shmid, nullptr, 0));
    if (segment.shmaddr != reinterpret_cast<char*>(-1)) {
        image->data = segment.shmaddr;
        segment.readOnly = False;
        XShmAttach(display, &segment);
        XSync(display, False);
        shared = !xFailed;
        if (!shared) shmdt(segment.shmaddr);
        xFailed = false;
    }
    if (segment.shmid >= 0) shmctl(segment.shmid, IPC_RMID, nullptr);  // gone once both ends detach
    if (image && !shared) {
        image->data = nullptr;
        XDestroyImage(image);
        image = nullptr;
    }
    const std::size_t bytes = shared ? static_cast<std::size_t>(image->bytes_per_line) * rows : 0;

    std::signal(SIGTERM, StopProbe);
    std::signal(SIGINT, StopProbe);
    std::vector<unsigned char> last;
    std::vector<std::int64_t> changes;
    long long polls = 0;
    const std::int64_t start = MonotonicNs();
    const std::int64_t end = start + static_cast<std::int64_t>(seconds * 1e9);
    const timespec pause{0, std::clamp(pollUs, 0L, 999999L) * 1000};
    while (!probeStop && !xFailed && MonotonicNs() < end) {
        const unsigned char* pixels = nullptr;
        std::size_t size = 0;
        XImage* plain = nullptr;
        if (shared) {
            if (!XShmGetImage(display, window, image, 0, top, AllPlanes)) break;
            pixels = reinterpret_cast<unsigned char*>(image->data);
            size = bytes;
        } else {
            plain = XGetImage(display, window, 0, top, static_cast<unsigned>(width), static_cast<unsigned>(rows),
                              AllPlanes, ZPixmap);
            if (!plain) break;
            pixels = reinterpret_cast<unsigned char*>(plain->data);
            size = static_cast<std::size_t>(plain->bytes_per_line) * rows;
        }
        const std::int64_t seen = MonotonicNs();
        ++polls;
        if (last.size() != size || std::memcmp(last.data(), pixels, size) != 0) {
            if (!last.empty()) changes.push_back(seen);
            last.assign(pixels, pixels + size);
        }
        if (plain) XDestroyImage(plain);
        nanosleep(&pause, nullptr);
    }
    const double spanS = static_cast<double>(MonotonicNs() - start) / 1e9;
    if (shared) {
        XShmDetach(display, &segment);
        XDestroyImage(image);
        shmdt(segment.shmaddr);
    }
    XCloseDisplay(display);

    std::FILE* out = std::fopen(outPath.c_str(), "w");
    if (!out) throw std::runtime_error("cannot write " + outPath + ": " + std::strerror(errno));
    for (std::int64_t t : changes) std::fprintf(out, "%lld\n", static_cast<long long>(t));
    if (std::fclose(out) != 0) throw std::runtime_error("cannot write " + outPath);
    std::printf("probe_shm=%d\nprobe_band=%dx%d\nprobe_polls=%lld\nprobe_changes=%zu\nprobe_poll_interval_ms=%.4f\n",
                shared ? 1 : 0, width, rows, polls, changes.size(), polls ? spanS * 1000 / static_cast<double>(polls) : 0);
    return xFailed ? 1 : 0;
}

int RunLatencyJoin(const std::string& samplesPath, const std::string& changesPath) {
    std::ifstream samplesIn(samplesPath), changesIn(changesPath);
    if (!samplesIn || !changesIn) throw std::runtime_error("cannot read the samples or the probe's changes");
    std::vector<std::int64_t> changes;
    for (long long t; changesIn >> t;) changes.push_back(t);
    std::sort(changes.begin(), changes.end());

    std::vector<double> carried, next, screen, period;
    long long unseen = 0, afterNext = 0;
    for (long long changed, carry, following; samplesIn >> changed >> carry >> following;) {
        carried.push_back(static_cast<double>(carry - changed) / 1e6);
        next.push_back(static_cast<double>(following - changed) / 1e6);
        period.push_back(static_cast<double>(following - carry) / 1e6);
        // The frame drawn from the carrying read cannot be on the server before that read.
        auto seen = std::upper_bound(changes.begin(), changes.end(), carry);
        // A change of pixels more than a second on belongs to something else.
        if (seen == changes.end() || *seen - carry > 1000000000LL) {
            ++unseen;
            continue;
        }
        if (*seen > following) ++afterNext;
        screen.push_back(static_cast<double>(*seen - changed) / 1e6);
    }
    PrintSpan("carried", carried);
    PrintSpan("next", next);
    PrintSpan("screen", screen);
    // From one frame's read to the next: the frame period while the heading turned.
    PrintSpan("period", period);
    std::printf("screen_unseen=%lld\nscreen_after_next=%lld\n", unseen, afterNext);
    return 0;
}
