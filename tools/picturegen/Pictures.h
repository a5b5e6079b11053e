// The installation's pictures, drawn by the picture generator: the compass card, the fixed
// face, the two needles, the mode pictures, the source selectors, the bitmap font and the
// icon. Where they stand (display/InstrumentGeometry.h) and what they are called
// (display/PictureFiles.h) are the instrument's own.
#pragma once

#include "BitmapFiles.h"
#include "Canvas.h"
#include "display/InstrumentGeometry.h"
#include "display/PictureFiles.h"

#include <string>
#include <vector>

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

// The picture that goes into each texture slot.
extern const Picture PictureSet::* const SlotPictures[TextureCount];

// Writes all pictures and the icon into a folder; throws on the first file it cannot write.
void WriteAllPictures(const PictureSet& set, const std::string& folder);
