// Where the instrument's pictures stand in front of the viewer: the perspective, the depth of
// each layer and the two poses of each source selector. The drawing places its quads with
// these, and the picture generator draws the selectors and the preview from the same
// numbers, so a moved selector cannot miss its picture. Plain numbers: no GL needed.
#pragma once

#include <cmath>

namespace geometry {

// Vertical field of view (degrees) and the near and far clipping planes.
inline constexpr double FieldOfView = 45.0;
inline constexpr double NearPlane = 0.1;
inline constexpr double FarPlane = 100.0;

// Distances from the viewer: the card, face and needles; the mode pictures; the selectors.
inline constexpr double DialDepth = 2.4;
inline constexpr double ModeDepth = 4.0;
inline constexpr double SelectorDepth = 7.0;

// Half-size of the dial's and the mode pictures' square quads.
inline constexpr double DialHalfSize = 1.0;

// One source selector: its VOR pose (centre and counter-clockwise turn), its ADF pose
// (centre, unturned) and the half-size of its quad.
struct SelectorPlacement {
    double vorX, vorY, vorTurn;
    double adfX, adfY;
    double halfWidth, halfHeight;
};
inline constexpr SelectorPlacement Needle1Selector{-2.1, -1.8, 270.0, -3.6, -2.05, 1.0, 0.8};
inline constexpr SelectorPlacement Needle2Selector{1.8, -1.8, 90.0, 3.5, -1.9, 1.0, 0.85};

// Half-height of the view at a depth (the half-width is this times width / height).
inline double HalfHeightAt(double depth) {
    return depth * std::tan(FieldOfView / 2.0 * 3.14159265358979323846 / 180.0);
}

}  // namespace geometry
