// Drawing surface of the picture generator: a Cairo image whose user space is the quad the
// instrument draws the picture on (x right, y up, the picture spanning -w..w by -h..h), and
// the conversion of what was drawn into a picture (colours over black) and its mask.
// Depends on Cairo only; text uses Cairo's toy API with the DejaVu fonts.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// One picture as the generator hands it on: 8-bit red, green, blue, top row first, no padding.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;

    Picture() = default;
    Picture(int w, int h) : width(w), height(h), rgb(static_cast<std::size_t>(w) * h * 3, 0) {}
    std::uint8_t* At(int x, int y) { return &rgb[(static_cast<std::size_t>(y) * width + x) * 3]; }
    const std::uint8_t* At(int x, int y) const {
        return &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
    }
};

struct Rgb {
    double r, g, b;
};

// A transparent Cairo image of width x height pixels whose user space is a quad of half-size
// halfWidth x halfHeight with y up. The quad may be stretched onto a square picture: the
// instrument stretches it back, so shapes drawn here come out undistorted on the screen.
class QuadCanvas {
public:
    QuadCanvas(int width, int height, double halfWidth, double halfHeight);
    ~QuadCanvas();
    QuadCanvas(const QuadCanvas&) = delete;
    QuadCanvas& operator=(const QuadCanvas&) = delete;

    cairo_t* Cr() const { return cr_; }

    // Colours as they add onto black: what the instrument's image pass adds.
    Picture Colours() const;
    // The mask for the mask pass: white where nothing was drawn, black under opaque parts,
    // grey along smoothed edges, so that mask multiply plus image add is a true "over".
    Picture Mask() const;

private:
    cairo_surface_t* surface_;
    cairo_t* cr_;
};

enum class Align { Left, Centre, Right };

// Writes text upright in the current user space (which has y up), turned counterclockwise by
// angleDeg about its anchor, the anchor being the middle of the capital letters' height.
// capHeight is the height of a capital letter in user units. Returns the text's width.
double DrawText(cairo_t* cr, const std::string& text, double x, double y, double capHeight,
                double angleDeg = 0.0, Align align = Align::Centre, bool bold = true);

// Width that DrawText would give the text, without drawing it.
double TextWidth(cairo_t* cr, const std::string& text, double capHeight, bool bold = true);

void SetColour(cairo_t* cr, Rgb c, double alpha = 1.0);

// Adds a closed polygon through the given points (x0, y0, x1, y1, ...) to the current path.
void Polygon(cairo_t* cr, std::initializer_list<double> xy);
