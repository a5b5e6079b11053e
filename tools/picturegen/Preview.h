// A software picture of the instrument, composed the way its OpenGL drawing does it: the same
// perspective, quads, turns, mask multiply and clamped add, with linear texture filtering.
// Lets the pictures be judged before (and independently of) the real window.
#pragma once

#include "Pictures.h"

struct PreviewState {
    double cardAngle = 0, needle1Angle = 0, needle2Angle = 0;
    bool positionMode = false, sizeMode = false;
    bool needle1Vor = true, needle2Vor = true;
};

// The frame as a width x height picture (top row first).
Picture RenderPreview(const PictureSet& set, int width, int height, const PreviewState& state);

// Writes a picture as a PNG file; throws std::runtime_error when it cannot.
void WritePng(const Picture& picture, const std::string& path);
