// An optional status file for scripts and tests that watch the running instrument.
// When the environment names one in KORVA_STATUS_FILE, the instrument rewrites it a few
// times a second with what it last drew; otherwise nothing is written.
#pragma once

// Records the angles of the frame just drawn.
void NoteFrameDrawn(float cardAngle, float needle1Angle, float needle2Angle);
