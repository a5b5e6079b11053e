// The installation's pictures, drawn by the picture generator: the compass card, the fixed
// face, the two needles, the mode pictures, the source selectors, the bitmap font and the
// icon. Also the instrument's geometry that the designs and the preview both rely on.
#pragma once

#include "BitmapFiles.h"
#include "Canvas.h"

#include <string>
#include <vector>

namespace geometry {

// Vertical field of view of the instrument's perspective (degrees) and the depths at which
// the card group, the mode pictures and the selectors stand in front of the viewer.
constexpr double FieldOfView = 45.0;
constexpr double DialDepth = 2.4;
constexpr double ModeDepth = 4.0;
constexpr double SelectorDepth = 7.0;

// One source selector: its VOR pose (centre and counterclockwise turn), its ADF pose (centre,
// unturned) and the half-size of its quad.
struct SelectorPlacement {
    double vorX, vorY, vorTurn;
    double adfX, adfY;
    double halfWidth, halfHeight;
};
constexpr SelectorPlacement Needle1Selector{-2.1, -1.8, 270.0, -3.6, -2.05, 1.0, 0.8};
constexpr SelectorPlacement Needle2Selector{1.8, -1.8, 90.0, 3.5, -1.9, 1.0, 0.85};

// Half-height of the view at a depth (the half-width is this times width / height).
double HalfHeightAt(double depth);

}  // namespace geometry

// The design's shared measures, in fractions of the card's half-size.
namespace look {
constexpr double OpeningRadius = 0.83;  // where the bezel starts; the card shows inside
constexpr double RimWidth = 0.035;      // the bevelled ring around the opening
constexpr double TickOuter = 0.81;
constexpr double NeedleTip = 0.80;
constexpr double NeedleGap = 0.15;  // needles leave the aircraft symbol in the centre free
constexpr Rgb Needle1Colour{1.0, 0.80, 0.12};   // single bar: amber yellow
constexpr Rgb Needle2Colour{0.30, 0.85, 1.0};   // double bar: cyan
constexpr Rgb BezelColour{0.16, 0.16, 0.17};
}  // namespace look

// Every picture of the installation.
struct PictureSet {
    Picture card;
    Picture faceMask, face;
    Picture needle1Mask, needle1;
    Picture needle2Mask, needle2;
    Picture positionMode, sizeMode;
    Picture needle1Selector, needle2Selector;
    Picture font;
    IconImage icon;
};

Picture DrawCard();
void DrawFace(Picture& face, Picture& mask);
void DrawNeedle1(Picture& needle, Picture& mask);
void DrawNeedle2(Picture& needle, Picture& mask);
Picture DrawPositionMode();
Picture DrawSizeMode();
Picture DrawSelector(int needle);  // needle 1 or 2
Picture DrawFont();
IconImage DrawIcon();

PictureSet DrawAllPictures();

// The file each picture goes to, in the current-directory names the instrument opens.
struct PictureFileEntry {
    const char* name;
    const Picture PictureSet::*picture;
};
extern const std::vector<PictureFileEntry> PictureFileTable;
inline constexpr char IconFileName[] = "plane2.ico";

// Writes all pictures and the icon into a folder; throws on the first file it cannot write.
void WriteAllPictures(const PictureSet& set, const std::string& folder);
