#include "base/InstrumentState.h"

bool Needle1Vor = true;
bool Needle2Vor = true;
bool PositionMode = false;
bool SizeMode = false;
bool Recreating = true;
