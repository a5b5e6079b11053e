// The demo flight: the geodesy it rests on, a flight that turns no faster than standard
// rate and loops, and values that make the instrument's needles point at the stations.
#include "DemoFlight.h"
#include "flightdata/FlightData.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace demo;

TEST(DemoGeodesy, BearingsDistancesAndTravelAgree) {
    GeoPoint origin{0, 0};
    EXPECT_NEAR(BearingDegrees(origin, {1, 0}), 0.0, 1e-9);
    EXPECT_NEAR(BearingDegrees(origin, {0, 1}), 90.0, 1e-9);
    EXPECT_NEAR(BearingDegrees(origin, {-1, 0}), 180.0, 1e-9);
    EXPECT_NEAR(BearingDegrees(origin, {0, -1}), 270.0, 1e-9);
    EXPECT_NEAR(DistanceMetres(origin, {1, 0}), 111195.0, 1.0);
    // Away from the equator a great circle leaves eastwards on a bearing under 90 degrees
    // when it ends on the same latitude: it bulges towards the pole.
    EXPECT_LT(BearingDegrees({61, 23}, {61, 25}), 90.0);

    const GeoPoint start{61.5, 23.8};
    for (double bearing : {0.0, 37.0, 90.0, 181.0, 359.0}) {
        GeoPoint end = Travel(start, bearing, 50000);
        EXPECT_NEAR(DistanceMetres(start, end), 50000, 0.5) << bearing;
        EXPECT_NEAR(Normalise180(BearingDegrees(start, end) - bearing), 0.0, 1e-6) << bearing;
    }
    EXPECT_DOUBLE_EQ(Normalise360(-1), 359);
    EXPECT_DOUBLE_EQ(Normalise360(720), 0);
    EXPECT_DOUBLE_EQ(Normalise180(190), -170);
    EXPECT_DOUBLE_EQ(Normalise180(180), -180);
}

TEST(DemoFlightModel, FliesStandardRateTurnsStraightLegsClimbsAndLoops) {
    FlightModel model;
    double maxTurn = 0, straightRun = 0, longestStraight = 0;
    double minAlt = 1e9, maxAlt = -1e9, minVar = 1e9, maxVar = -1e9;
    bool sawStandardRate = false;
    const GeoPoint centre{61.55, 23.95};
    for (int second = 0; second < 2 * 3600 && model.State().circuits < 2; ++second) {
        GeoPoint before = model.State().position;
        double heading = model.State().trueHeading;
        model.Advance(1.0);
        const AircraftState& s = model.State();
        maxTurn = std::max(maxTurn, std::fabs(s.turnRate));
        if (std::fabs(s.turnRate) > 2.99) sawStandardRate = true;
        straightRun = std::fabs(s.turnRate) < 0.05 ? straightRun + 1 : 0;
        longestStraight = std::max(longestStraight, straightRun);
        // The heading is the direction the aircraft moves in (there is no wind).
        double track = BearingDegrees(before, s.position);
        double midHeading = heading + Normalise180(s.trueHeading - heading) / 2;
        EXPECT_NEAR(Normalise180(track - midHeading), 0.0, 0.5) << "at second " << second;
        minAlt = std::min(minAlt, s.altitudeFeet);
        maxAlt = std::max(maxAlt, s.altitudeFeet);
        double variation = DemoMap().VariationAt(s.position);
        minVar = std::min(minVar, variation);
        maxVar = std::max(maxVar, variation);
        ASSERT_LT(DistanceMetres(centre, s.position), 60000) << "left the map at second " << second;
    }
    EXPECT_EQ(model.State().circuits, 2u) << "the circuit does not close";
    EXPECT_LE(maxTurn, 3.0 + 1e-9);
    EXPECT_TRUE(sawStandardRate);
    EXPECT_GE(longestStraight, 120);
    EXPECT_GE(maxAlt - minAlt, 5000);
    EXPECT_GE(maxVar - minVar, 0.5);
}

TEST(DemoFlightModel, NeedlesPointAtTheStationsOnTheCard) {
    FlightModel model;
    const Map& map = DemoMap();
    for (int minute = 0; minute < 40; ++minute) {
        model.Advance(60);
        const AircraftState& s = model.State();
        RawFlightValues raw = model.Values();
        double variation = map.VariationAt(s.position);
        struct Check {
            const Station& station;
            bool vor;
            int needle;
        } checks[] = {{map.vor1, true, 1}, {map.ndb1, false, 1}, {map.vor2, true, 2}, {map.ndb2, false, 2}};
        for (const Check& c : checks) {
            InstrumentAngles a = ConvertFlightValues(raw, c.vor, c.vor);
            float needle = c.needle == 1 ? a.needle1 : a.needle2;
            // The card shows the magnetic heading at the top; a needle turned by its angle
            // from the top then shows the station's magnetic bearing on the card.
            double shown = Normalise360(a.card + needle);
            double magneticBearing = Normalise360(BearingDegrees(s.position, c.station.position) - variation);
            EXPECT_NEAR(Normalise180(shown - magneticBearing), 0.0, c.vor ? 0.6 : 0.02)
                << c.station.ident << " at minute " << minute;
        }
    }
}
