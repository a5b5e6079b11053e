// Drawing one frame of the bearing indicator: the turning card and the fixed face, the
// two needles, and the mode and source-selector pictures, as textured quads.
#pragma once

// Clears the buffers and draws the card turned counter-clockwise by cardAngle degrees,
// then the fixed face over it.
void DrawDial(float cardAngle);
// Draws needle 2 (added) and needle 1 (masked), each turned clockwise by its angle.
void DrawNeedles(float needle1Angle, float needle2Angle);
// Draws the mode pictures and the two source selectors in their VOR or ADF pose.
void DrawOverlays();
