// The demo flight: a small map with two VORs and two NDBs, a closed circuit flown at 250 kt
// with standard-rate turns, climbs and descents, and the values the instrument reads
// computed from the aircraft's position: great-circle bearings to the stations, taken
// relative to the nose, and the local magnetic variation.
#include "DemoFlight.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace demo {

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double EarthRadius = 6371000.0;  // metres
constexpr double Knot = 1852.0 / 3600.0;   // metres per second
constexpr double StandardRate = 3.0;       // degrees per second
constexpr double ClimbRate = 1500.0 / 60;  // feet per second
constexpr double CruiseSpeed = 250.0;      // knots

double Rad(double degrees) { return degrees * Pi / 180.0; }
double Deg(double radians) { return radians * 180.0 / Pi; }

// The altitude the aircraft works towards while flying to each waypoint of the circuit.
constexpr double TargetAltitude[] = {3000, 9000, 9000, 5000, 5000};

}  // namespace

double Normalise360(double degrees) {
    double d = std::fmod(degrees, 360.0);
    if (d < 0) d += 360.0;
    if (d >= 360.0) d -= 360.0;
    return d;
}

double Normalise180(double degrees) {
    double d = Normalise360(degrees + 180.0) - 180.0;
    return d;
}

double BearingDegrees(const GeoPoint& a, const GeoPoint& b) {
    double phi1 = Rad(a.latitude), phi2 = Rad(b.latitude);
    double dLambda = Rad(b.longitude - a.longitude);
    double y = std::sin(dLambda) * std::cos(phi2);
    double x = std::cos(phi1) * std::sin(phi2) - std::sin(phi1) * std::cos(phi2) * std::cos(dLambda);
    return Normalise360(Deg(std::atan2(y, x)));
}

double DistanceMetres(const GeoPoint& a, const GeoPoint& b) {
    double phi1 = Rad(a.latitude), phi2 = Rad(b.latitude);
    double dPhi = phi2 - phi1, dLambda = Rad(b.longitude - a.longitude);
    double h = std::sin(dPhi / 2) * std::sin(dPhi / 2) +
               std::cos(phi1) * std::cos(phi2) * std::sin(dLambda / 2) * std::sin(dLambda / 2);
    return 2 * EarthRadius * std::asin(std::min(1.0, std::sqrt(h)));
}

GeoPoint Travel(const GeoPoint& a, double bearingDegrees, double metres) {
    double delta = metres / EarthRadius;
    double theta = Rad(bearingDegrees);
    double phi1 = Rad(a.latitude), lambda1 = Rad(a.longitude);
    double phi2 = std::asin(std::sin(phi1) * std::cos(delta) + std::cos(phi1) * std::sin(delta) * std::cos(theta));
    double lambda2 = lambda1 + std::atan2(std::sin(theta) * std::sin(delta) * std::cos(phi1),
                                          std::cos(delta) - std::sin(phi1) * std::sin(phi2));
    return {Deg(phi2), Normalise180(Deg(lambda2))};
}

double Map::VariationAt(const GeoPoint& p) const {
    // A smooth field, growing eastwards and northwards, as over southern Finland.
    return 6.5 + 1.2 * (p.longitude - 23.5) + 0.8 * (p.latitude - 61.5);
}

const Map& DemoMap() {
    static const Map map = {
        {"PIR", {61.55, 23.80}},
        {"HAM", {61.15, 24.30}},
        {"KA", {61.80, 23.85}},
        {"RO", {61.35, 24.75}},
        {{61.40, 23.40}, {61.75, 23.55}, {61.85, 24.20}, {61.45, 24.45}, {61.25, 23.95}},
    };
    return map;
}

FlightModel::FlightModel() {
    const Map& map = DemoMap();
    state_.position = map.route[0];
    state_.trueHeading = BearingDegrees(map.route[0], map.route[1]);
    state_.altitudeFeet = TargetAltitude[0];
    state_.groundSpeedKnots = CruiseSpeed;
    state_.nextWaypoint = 1;
}

void FlightModel::Advance(double seconds) {
    while (seconds > 0) {
        double dt = std::min(seconds, 0.05);
        Step(dt);
        seconds -= dt;
    }
}

void FlightModel::Step(double dt) {
    const Map& map = DemoMap();
    const std::size_t count = map.route.size();
    const GeoPoint& target = map.route[state_.nextWaypoint];
    double speed = state_.groundSpeedKnots * Knot;

    // Turn towards the waypoint, never faster than a standard-rate turn; start the turn onto
    // the next leg early enough that the aircraft rolls out on it.
    double desired = BearingDegrees(state_.position, target);
    double error = Normalise180(desired - state_.trueHeading);
    state_.turnRate = std::clamp(error * 0.5, -StandardRate, StandardRate);
    state_.trueHeading = Normalise360(state_.trueHeading + state_.turnRate * dt);

    const GeoPoint& after = map.route[(state_.nextWaypoint + 1) % count];
    double turn = std::fabs(Normalise180(BearingDegrees(target, after) - desired));
    double radius = speed / Rad(StandardRate);
    double lead = radius * std::tan(Rad(std::min(turn, 120.0)) / 2) + speed * dt;
    if (DistanceMetres(state_.position, target) < std::max(lead, 200.0)) {
        state_.nextWaypoint = (state_.nextWaypoint + 1) % count;
        if (state_.nextWaypoint == 1) ++state_.circuits;
    }

    double goal = TargetAltitude[state_.nextWaypoint];
    double climb = std::clamp(goal - state_.altitudeFeet, -ClimbRate * dt, ClimbRate * dt);
    state_.altitudeFeet += climb;

    state_.position = Travel(state_.position, state_.trueHeading, speed * dt);
    state_.elapsedSeconds += dt;
}

RawFlightValues FlightModel::Values() const {
    const Map& map = DemoMap();
    RawFlightValues v{};
    v.trueHeading = static_cast<std::uint32_t>(
        static_cast<std::uint64_t>(std::llround(state_.trueHeading / 360.0 * 4294967296.0)) & 0xFFFFFFFFu);
    double variation = map.VariationAt(state_.position);
    v.magneticVariation = static_cast<std::int16_t>(std::lround(variation * 65536.0 / 360.0));

    auto relative = [&](const Station& s) { return BearingDegrees(state_.position, s.position) - state_.trueHeading; };
    auto vor = [&](const Station& s) {
        return static_cast<std::uint16_t>(std::lround(Normalise360(relative(s))) % 360);
    };
    auto adf = [&](const Station& s) {
        long raw = std::lround(Normalise180(relative(s)) * 65536.0 / 360.0);
        return static_cast<std::int16_t>(std::clamp(raw, -32768L, 32767L));
    };
    v.vor1Bearing = vor(map.vor1);
    v.vor2Bearing = vor(map.vor2);
    v.adf1Bearing = adf(map.ndb1);
    v.adf2Bearing = adf(map.ndb2);
    return v;
}

void FlightModel::WriteTo(OffsetMemory& memory) const {
    RawFlightValues v = Values();
    for (const SimulatorValue& value : SimulatorValues) memory.WriteUnsigned(value.offset, value.size, FieldBits(v, value));
    // Altitude in metres as a 32.32 fixed-point number, for other gauges a user may attach.
    double metres = state_.altitudeFeet * 0.3048;
    memory.WriteUnsigned(0x0570, 8, static_cast<std::uint64_t>(static_cast<std::int64_t>(metres * 4294967296.0)));
}

DemoFlight::DemoFlight(OffsetMemory& memory, double speedFactor)
    : memory_(memory), speedFactor_(speedFactor > 0 ? speedFactor : 1.0) {
    model_.WriteTo(memory_);
}

DemoFlight::~DemoFlight() {
    Stop();
}

void DemoFlight::Start() {
    if (running_.exchange(true)) return;
    thread_ = std::thread([this] {
        auto last = std::chrono::steady_clock::now();
        while (running_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            auto now = std::chrono::steady_clock::now();
            double seconds = std::chrono::duration<double>(now - last).count();
            last = now;
            model_.Advance(seconds * speedFactor_);
            model_.WriteTo(memory_);
        }
    });
}

void DemoFlight::Stop() {
    if (!running_.exchange(false)) return;
    if (thread_.joinable()) thread_.join();
}

}  // namespace demo
