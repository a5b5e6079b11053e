// The bridge's sources: X-Plane, FlightGear, the demo flight.
#include "Sources.h"

#include "FlightGearProtocol.h"
#include "XPlaneProtocol.h"

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

std::string XPlaneSource::Describe() const {
    return "X-Plane at " + host_ + ":" + std::to_string(port_);
}

bool XPlaneSource::Open(std::string& error) {
    if (!ResolveIPv4(host_, simulator_.ipv4, error)) return false;
    simulator_.port = port_;
    // Any free port on every interface: X-Plane answers to wherever the request came from.
    if (!socket_.Open("", 0, error)) return false;
    Subscribe(Frequency);
    return true;
}

void XPlaneSource::Subscribe(std::int32_t frequency) {
    for (std::size_t i = 0; i < xplane::DatarefCount; ++i) {
        std::vector<std::uint8_t> request =
            xplane::Subscription(frequency, static_cast<std::int32_t>(i), xplane::Datarefs[i].path);
        // Nobody listening yet is no error: the renewal tries again.
        socket_.SendTo(simulator_, request.data(), request.size());
    }
    nextRenewal_ = Clock::now() + std::chrono::seconds(RenewalSeconds);
}

int XPlaneSource::Poll(int timeoutMs, RawFlightValues& raw) {
    if (!socket_.IsOpen()) return 0;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<xplane::IndexedValue> values;
    int samples = 0;
    do {
        if (Clock::now() >= nextRenewal_) Subscribe(Frequency);
        int wait = std::min(MillisecondsUntil(deadline), MillisecondsUntil(nextRenewal_));
        std::uint8_t datagram[2048];
        UdpAddress from;
        long length = socket_.Receive(datagram, sizeof datagram, wait, &from);
        if (length <= 0 || from.ipv4 != simulator_.ipv4) continue;
        if (!xplane::ParseAnswer(datagram, static_cast<std::size_t>(length), values)) continue;
        BridgeSample sample;
        if (xplane::SampleFromValues(values, sample) > 0) {
            ApplySample(sample, raw);
            ++samples;
        }
    } while (samples == 0 && Clock::now() < deadline);
    return samples;
}

void XPlaneSource::Close() {
    if (!socket_.IsOpen()) return;
    Subscribe(0);
    socket_.Close();
}

std::string FlightGearSource::Describe() const {
    return "FlightGear on UDP port " + std::to_string(socket_.IsOpen() ? socket_.LocalPort() : port_);
}

bool FlightGearSource::Open(std::string& error) {
    return socket_.Open("", port_, error);
}

int FlightGearSource::Poll(int timeoutMs, RawFlightValues& raw) {
    if (!socket_.IsOpen()) return 0;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<BridgeSample> samples;
    do {
        char datagram[4096];
        long length = socket_.Receive(datagram, sizeof datagram, MillisecondsUntil(deadline), nullptr);
        if (length <= 0) continue;
        badLines_ += static_cast<unsigned long>(
            flightgear::ParseDatagram(datagram, static_cast<std::size_t>(length), samples));
    } while (samples.empty() && Clock::now() < deadline);
    for (const BridgeSample& sample : samples) ApplySample(sample, raw);
    return static_cast<int>(samples.size());
}

std::string DemoSource::Describe() const {
    char factor[32];
    std::snprintf(factor, sizeof factor, "%g", speed_);
    return std::string("the demo flight at ") + factor + " times real time";
}

bool DemoSource::Open(std::string&) {
    last_ = Clock::now();
    return true;
}

int DemoSource::Poll(int timeoutMs, RawFlightValues& raw) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 20)));
    Clock::time_point now = Clock::now();
    model_.Advance(std::chrono::duration<double>(now - last_).count() * speed_);
    last_ = now;
    raw = model_.Values();
    return 1;
}
