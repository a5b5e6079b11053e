// The demo flight: a twin-turboprop flying a closed circuit past two VOR and two NDB
// stations, with climbs, standard-rate turns and straight legs, and a magnetic variation
// that changes along the way. Writes what the bearing indicator reads into the offset memory.
#pragma once

#include "OffsetMemory.h"
#include "base/SimulatorValues.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace demo {

struct GeoPoint {
    double latitude;   // degrees, north positive
    double longitude;  // degrees, east positive
};

struct Station {
    std::string ident;
    GeoPoint position;
};

// Great-circle initial bearing from a to b, degrees true, 0 <= result < 360.
double BearingDegrees(const GeoPoint& a, const GeoPoint& b);
// Great-circle distance from a to b, metres.
double DistanceMetres(const GeoPoint& a, const GeoPoint& b);
// The point reached from a along a great circle with that initial bearing and distance.
GeoPoint Travel(const GeoPoint& a, double bearingDegrees, double metres);
// An angle brought into 0 <= result < 360.
double Normalise360(double degrees);
// An angle brought into -180 <= result < 180.
double Normalise180(double degrees);

// The map: the stations and the magnetic variation over the area.
struct Map {
    Station vor1, vor2, ndb1, ndb2;
    std::vector<GeoPoint> route;  // the circuit, flown in order and then again
    // Magnetic variation at a point, degrees, east positive.
    double VariationAt(const GeoPoint& p) const;
};
const Map& DemoMap();

// Where the aircraft is and what it is doing.
struct AircraftState {
    GeoPoint position{};
    double trueHeading = 0;  // degrees; no wind, so also the track
    double altitudeFeet = 0;
    double groundSpeedKnots = 0;
    double turnRate = 0;  // degrees per second, right positive
    std::size_t nextWaypoint = 1;
    double elapsedSeconds = 0;
    unsigned circuits = 0;
};

class FlightModel {
public:
    FlightModel();
    // Advances the flight by dt seconds of simulated time (in small steps).
    void Advance(double seconds);
    const AircraftState& State() const { return state_; }
    RawFlightValues Values() const;
    // Writes the instrument's values (and the aircraft's altitude) into the memory.
    void WriteTo(OffsetMemory& memory) const;

private:
    void Step(double dt);
    AircraftState state_;
};

// Flies the model in real time, sped up by a factor, writing the memory 50 times a second.
class DemoFlight {
public:
    DemoFlight(OffsetMemory& memory, double speedFactor);
    ~DemoFlight();
    void Start();
    void Stop();

private:
    OffsetMemory& memory_;
    double speedFactor_;
    FlightModel model_;
    std::atomic<bool> running_{false};
    std::thread thread_;
};

}  // namespace demo
