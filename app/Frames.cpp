// The frames: in FSUIPC mode six reads in one exchange with the simulator, in network mode
// six requests to the data server. A value the exchange does not deliver stays 0, so the
// instrument then shows 0.
#include "app/Frames.h"

#include "base/Diagnostics.h"
#include "base/InstrumentState.h"
#include "display/Drawing.h"
#include "flightdata/FPCuser.h"
#include "flightdata/FlightData.h"
#include "flightdata/NetworkSampling.h"
#include "platform/System.h"

// The reads land straight in the fields, so the host must order bytes as the simulator does.
#if defined(__BYTE_ORDER__)
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the simulator's values are little-endian");
#endif

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
    for (const SimulatorValue& value : SimulatorValues) IpcQueueRead(value.offset, value.size, FieldAddress(raw, value), result);
    IpcProcess(result);
    Sleep(1);
    HandOverToDrawing(raw);
    return true;
}

bool DrawSceneNetwork() {
    RawFlightValues raw = SampleNetworkValues();
    Sleep(1);
    HandOverToDrawing(raw);
    return true;
}
