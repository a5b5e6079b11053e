// The six simulator values of a frame turned into the card angle and the two needle angles,
// the hand-over to the drawing, and the FSUIPC frame: six reads in one exchange with the
// simulator. A value the exchange does not deliver stays 0, so the instrument then shows 0.
#include "flightdata/FlightData.h"

#include "app/Diagnostics.h"
#include "app/MainLoop.h"
#include "display/Drawing.h"
#include "flightdata/FPCuser.h"
#include "platform/System.h"

// The reads land straight in the fields, so the host must order bytes as the simulator does.
#if defined(__BYTE_ORDER__)
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the simulator's values are little-endian");
#endif

namespace {

// A needle's angle from its selected receiver: VOR bearings are whole degrees, ADF bearings
// signed fractions of the full circle.
float NeedleAngle(bool vorSource, std::uint16_t vorRaw, std::int16_t adfRaw) {
    if (vorSource) return static_cast<float>(vorRaw);
    // |raw| * 360 stays below 2^24, so the product and the division by 2^16 are exact.
    std::int32_t scaled = static_cast<std::int32_t>(adfRaw) * 360;
    return static_cast<float>(scaled / 65536.0);
}

}  // namespace

InstrumentAngles ConvertFlightValues(const RawFlightValues& raw, bool needle1Vor, bool needle2Vor) {
    // Both terms are exact in double and so is their difference; the only rounding is the
    // one to single precision (0xFFFFFFFF thus shows as 360, not 359.99999).
    double heading = static_cast<double>(raw.trueHeading) * 360.0 / 4294967296.0;
    double variation = static_cast<double>(raw.magneticVariation) * 360.0 / 65536.0;
    InstrumentAngles angles;
    angles.card = static_cast<float>(heading - variation);
    angles.needle1 = NeedleAngle(needle1Vor, raw.vor1Bearing, raw.adf1Bearing);
    angles.needle2 = NeedleAngle(needle2Vor, raw.vor2Bearing, raw.adf2Bearing);
    return angles;
}

void HandOverToDrawing(const RawFlightValues& raw) {
    InstrumentAngles angles = ConvertFlightValues(raw, Needle1Vor, Needle2Vor);
    DrawDial(angles.card);
    DrawNeedles(angles.needle1, angles.needle2);
    DrawOverlays();
    NoteFrameDrawn(angles.card, angles.needle1, angles.needle2);
}

bool DrawSceneFsuipc() {
    RawFlightValues raw{};
    // Whether the link is open or the exchange works changes nothing here: undelivered
    // values stay 0 and the frame is drawn all the same.
    IpcResult result = IPC_OK;
    IpcQueueRead(0x0580, 4, &raw.trueHeading, result);
    IpcQueueRead(0x02A0, 2, &raw.magneticVariation, result);
    IpcQueueRead(0x0C56, 2, &raw.vor1Bearing, result);
    IpcQueueRead(0x0C5C, 2, &raw.vor2Bearing, result);
    IpcQueueRead(0x0C6A, 2, &raw.adf1Bearing, result);
    IpcQueueRead(0x02D8, 2, &raw.adf2Bearing, result);
    IpcProcess(result);
    Sleep(1);
    HandOverToDrawing(raw);
    return true;
}
