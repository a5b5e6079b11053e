// Where the bridge's values come from: X-Plane (RREF subscriptions over UDP), FlightGear
// (korva.xml's lines over UDP), the demo flight, or the simulator's FSUIPC (FsuipcSource.h). Each source turns what it receives into
// the six raw fields through the one conversion table (Conversion.h).
#pragma once

#include "Conversion.h"
#include "UdpSocket.h"

#include "DemoFlight.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class Source {
public:
    virtual ~Source() = default;
    // What the log calls it ("X-Plane at 127.0.0.1:49000").
    virtual std::string Describe() const = 0;
    // The same, short, for the status line ("X-Plane 127.0.0.1:49000").
    virtual std::string ShortName() const = 0;
    // Gets ready to receive; false with a reason (a port in use, a host unknown).
    virtual bool Open(std::string& error) = 0;
    // Waits up to timeoutMs for samples and stores them in raw; returns as soon as one came.
    // Returns how many samples were taken (0 when the simulator was silent).
    virtual int Poll(int timeoutMs, RawFlightValues& raw) = 0;
    // Lets the simulator know the bridge goes (X-Plane: unsubscribes) and closes.
    virtual void Close() = 0;
    // Takes the oldest event worth a line in the log (the link lost, found again), if any.
    virtual bool TakeNotice(std::string& text) {
        (void)text;
        return false;
    }
};

// Subscribes to X-Plane's datarefs and renews the subscriptions every few seconds, so that
// an X-Plane started (or restarted) later is picked up. Only datagrams from the X-Plane
// host count.
class XPlaneSource : public Source {
public:
    static constexpr std::int32_t Frequency = 20;  // answers a second
    static constexpr int RenewalSeconds = 3;

    XPlaneSource(std::string host, std::uint16_t port) : host_(std::move(host)), port_(port) {}
    ~XPlaneSource() override { Close(); }
    std::string Describe() const override;
    std::string ShortName() const override { return "X-Plane " + host_ + ":" + std::to_string(port_); }
    bool Open(std::string& error) override;
    int Poll(int timeoutMs, RawFlightValues& raw) override;
    void Close() override;
    // The local port X-Plane answers to (for tests); 0 while closed.
    std::uint16_t LocalPort() const { return socket_.LocalPort(); }

private:
    void Subscribe(std::int32_t frequency);

    std::string host_;
    std::uint16_t port_;
    UdpAddress simulator_{};
    UdpSocket socket_;
    std::chrono::steady_clock::time_point nextRenewal_{};
};

// Listens for FlightGear's generic protocol lines on a UDP port (every interface, so that a
// FlightGear on another machine can send too).
class FlightGearSource : public Source {
public:
    explicit FlightGearSource(std::uint16_t port) : port_(port) {}
    ~FlightGearSource() override { Close(); }
    std::string Describe() const override;
    std::string ShortName() const override { return "FlightGear :" + std::to_string(socket_.LocalPort()); }
    bool Open(std::string& error) override;
    int Poll(int timeoutMs, RawFlightValues& raw) override;
    void Close() override { socket_.Close(); }
    // The port it listens on (port 0 asks for any free one); 0 while closed.
    std::uint16_t LocalPort() const { return socket_.LocalPort(); }
    // Lines that were not six fields, since the start.
    unsigned long BadLines() const { return badLines_; }

private:
    std::uint16_t port_;
    UdpSocket socket_;
    unsigned long badLines_ = 0;
};

// The stand-in's demo flight, advanced 50 times a second and sped up by a factor.
class DemoSource : public Source {
public:
    explicit DemoSource(double speed) : speed_(speed) {}
    std::string Describe() const override;
    std::string ShortName() const override { return "demo"; }
    bool Open(std::string& error) override;
    int Poll(int timeoutMs, RawFlightValues& raw) override;
    void Close() override {}

private:
    double speed_;
    demo::FlightModel model_;
    std::chrono::steady_clock::time_point last_{};
};
