// The pictures drawn over the dial: the two adjust-mode pictures (shown green in the middle of
// the instrument) and the two needle-source selectors, each designed for both of its poses.
#include "Pictures.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double Deg = M_PI / 180.0;
constexpr Rgb White{1, 1, 1};

// An arrow along a line from (x0, y0) to its point (x1, y1), in the current colour.
void Arrow(cairo_t* cr, double x0, double y0, double x1, double y1, double shaft, double head) {
    const double len = std::hypot(x1 - x0, y1 - y0);
    const double ux = (x1 - x0) / len, uy = (y1 - y0) / len;
    const double bx = x1 - ux * head * 1.3, by = y1 - uy * head * 1.3;
    cairo_set_line_width(cr, shaft);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, bx + ux * 0.01, by + uy * 0.01);
    cairo_stroke(cr);
    Polygon(cr, {x1, y1, bx - uy * head, by + ux * head, bx + uy * head, by - ux * head});
    cairo_fill(cr);
}

}  // namespace

// Both mode pictures stand at depth 4 with half-size 1, so they cover the middle 60 % of the
// window's height: thin white strokes and short words, so the dial stays readable beneath
// the green while the user moves or sizes the window.
Picture DrawPositionMode() {
    QuadCanvas canvas(256, 256, 1.0, 1.0);
    cairo_t* cr = canvas.Cr();
    SetColour(cr, White);
    // The words stay clear of the aircraft symbol (about 0.17 here) in the centre.
    DrawText(cr, "SET", 0, 0.32, 0.13);
    DrawText(cr, "POSITION", 0, -0.32, 0.13);
    const double shaft = 0.035, head = 0.07;
    Arrow(cr, 0, 0.52, 0, 0.97, shaft, head);
    Arrow(cr, 0, -0.52, 0, -0.97, shaft, head);
    Arrow(cr, 0.62, 0, 0.97, 0, shaft, head);
    Arrow(cr, -0.62, 0, -0.97, 0, shaft, head);
    return canvas.Colours();
}

Picture DrawSizeMode() {
    QuadCanvas canvas(256, 256, 1.0, 1.0);
    cairo_t* cr = canvas.Cr();
    SetColour(cr, White);
    DrawText(cr, "SET", 0, 0.32, 0.13);
    DrawText(cr, "SIZE", 0, -0.32, 0.13);
    // Corner brackets of a frame, and arrows from the middle out to them: "stretch".
    cairo_set_line_width(cr, 0.035);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
    for (int corner = 0; corner < 4; ++corner) {
        const double sx = corner % 2 ? 1 : -1, sy = corner / 2 ? 1 : -1;
        cairo_move_to(cr, 0.93 * sx, 0.60 * sy);
        cairo_line_to(cr, 0.93 * sx, 0.93 * sy);
        cairo_line_to(cr, 0.60 * sx, 0.93 * sy);
        cairo_stroke(cr);
        Arrow(cr, 0.45 * sx, 0.45 * sy, 0.80 * sx, 0.80 * sy, 0.035, 0.07);
    }
    return canvas.Colours();
}

namespace {

// The selector of a needle shows its symbol: one bar for needle 1, two bars for needle 2.
// Drawn upright from (x, y - length/2) to (x, y + length/2); as a pointer with its head up,
// or as bare bars where a head would point at the wrong label in the other pose.
void NeedleSymbol(cairo_t* cr, int needle, double x, double y, double length, double width,
                  bool pointer = true) {
    const double bottom = y - length / 2, top = y + length / 2, head = width * 1.6;
    cairo_new_path(cr);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    if (!pointer) {
        const double gap = needle == 1 ? 0.0 : width * 1.1;
        cairo_set_line_width(cr, needle == 1 ? width : width * 0.75);
        for (const double dx : {-gap, gap}) {
            cairo_move_to(cr, x + dx, bottom);
            cairo_line_to(cr, x + dx, top);
        }
        cairo_stroke(cr);
    } else if (needle == 1) {
        cairo_set_line_width(cr, width);
        cairo_move_to(cr, x, bottom);
        cairo_line_to(cr, x, top - head * 1.5);
        cairo_stroke(cr);
        Polygon(cr, {x, top, x - head, top - head * 1.7, x + head, top - head * 1.7});
        cairo_fill(cr);
    } else {
        const double gap = width * 1.1;
        cairo_set_line_width(cr, width * 0.75);
        cairo_move_to(cr, x - gap, bottom);
        cairo_line_to(cr, x - gap, top - head * 1.7);
        cairo_line_to(cr, x - head * 1.15, top - head * 1.7);
        cairo_line_to(cr, x, top - width * 0.4);
        cairo_line_to(cr, x + head * 1.15, top - head * 1.7);
        cairo_line_to(cr, x + gap, top - head * 1.7);
        cairo_line_to(cr, x + gap, bottom);
        cairo_close_path(cr);
        cairo_stroke(cr);
    }
}

// A small grey plate behind a marking, so that it reads as a part of the instrument.
void Plate(cairo_t* cr, double x0, double y0, double x1, double y1, double radius) {
    cairo_new_path(cr);
    cairo_arc(cr, x1 - radius, y1 - radius, radius, 0, M_PI / 2);
    cairo_arc(cr, x0 + radius, y1 - radius, radius, M_PI / 2, M_PI);
    cairo_arc(cr, x0 + radius, y0 + radius, radius, M_PI, 1.5 * M_PI);
    cairo_arc(cr, x1 - radius, y0 + radius, radius, 1.5 * M_PI, 2 * M_PI);
    cairo_close_path(cr);
    cairo_set_source_rgb(cr, 0.10, 0.10, 0.11);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.32, 0.32, 0.33);
    cairo_set_line_width(cr, 0.015);
    cairo_stroke(cr);
}

}  // namespace

// The source selector of a needle, one picture for two poses.
//
// The picture is drawn at depth 7, where a square window shows x and y from -2.9 to 2.9
// (half-height 7 x tan 22.5 deg = 2.899) and the dial's opening ends at radius 0.83 x 7/2.4
// = 2.42, its rim at 2.52. Only the bezel's bottom corners are free.
//
// VOR pose: turned a quarter (needle 2: 90 deg, centre (1.8, -1.8); needle 1: 270 deg, centre
// (-2.1, -1.8)), the whole quad is on screen in the lower right / lower left corner. A knob
// with the needle's symbol pointing up at a "VOR" label sits in the corner, outside the rim.
//
// ADF pose: unturned and pushed out sideways (centres (3.5, -1.9) and (-3.6, -2.05)), so on a
// square window only the quad's inner strip is on screen: x 2.5 to 2.9 for needle 2, -2.9
// to -2.6 for needle 1, i.e. the left 20 % / right 15 % of the picture. That strip holds a
// small plate with the needle's bars and "ADF", a tab at the window's side edge.
//
// In the VOR pose that same strip lies along the bottom of the quad, below and beside the
// knob, so it shows there too: like the second position marked on a real two-position
// knob, while the knob's pointer aims at "VOR". "ADF" is written along the strip so that the
// quarter turn of the VOR pose sets it upright; the bars carry no head there, which would
// point at the wrong label. The VOR-pose drawing is clipped off the strip so that it never
// shows in the ADF pose. A window much wider than tall shows more than the strip in the ADF
// pose (the knob on its side beside the tab); the fixed placement leaves no room to avoid it.
Picture DrawSelector(int needle) {
    const geometry::SelectorPlacement& p =
        needle == 1 ? geometry::Needle1Selector : geometry::Needle2Selector;
    const double side = needle == 1 ? -1.0 : 1.0;  // left or right of the window
    const Rgb colour = needle == 1 ? look::Needle1Colour : look::Needle2Colour;
    QuadCanvas canvas(256, 256, p.halfWidth, p.halfHeight);
    cairo_t* cr = canvas.Cr();

    // Where the window's side edge cuts the quad in the ADF pose, in the quad's own x.
    const double edge = side * geometry::HalfHeightAt(geometry::SelectorDepth);
    const double stripEdge = edge - p.adfX;
    const double stripInner = -side * p.halfWidth;  // the quad's inner side
    const double stripLow = std::min(stripEdge, stripInner), stripHigh = std::max(stripEdge, stripInner);

    // VOR pose: clip to everything but the strip, then draw in the window's coordinates.
    cairo_save(cr);
    if (needle == 1) cairo_rectangle(cr, -p.halfWidth, -p.halfHeight, stripLow + p.halfWidth, 2 * p.halfHeight);
    else cairo_rectangle(cr, stripHigh, -p.halfHeight, p.halfWidth - stripHigh, 2 * p.halfHeight);
    cairo_clip(cr);
    cairo_rotate(cr, -p.vorTurn * Deg);
    cairo_translate(cr, -p.vorX, -p.vorY);
    {
        const double kx = side * 2.26, ky = -1.98, kr = 0.30;
        // Knob: a grey disc with a knurled edge, lit from the top left.
        cairo_pattern_t* body = cairo_pattern_create_radial(kx - 0.1, ky + 0.1, 0.02, kx, ky, kr);
        cairo_pattern_add_color_stop_rgb(body, 0, 0.42, 0.42, 0.44);
        cairo_pattern_add_color_stop_rgb(body, 1, 0.14, 0.14, 0.15);
        cairo_arc(cr, kx, ky, kr, 0, 2 * M_PI);
        cairo_set_source(cr, body);
        cairo_fill(cr);
        cairo_pattern_destroy(body);
        cairo_set_source_rgb(cr, 0.05, 0.05, 0.05);
        cairo_set_line_width(cr, 0.012);
        for (int i = 0; i < 36; ++i) {
            const double a = i * 10.0 * Deg;
            cairo_move_to(cr, kx + (kr - 0.035) * std::cos(a), ky + (kr - 0.035) * std::sin(a));
            cairo_line_to(cr, kx + kr * std::cos(a), ky + kr * std::sin(a));
        }
        cairo_stroke(cr);
        SetColour(cr, colour);
        NeedleSymbol(cr, needle, kx, ky, 0.44, 0.05);
        // The label the pointer points at.
        const double lx = side * 2.36, ly = -1.50;
        DrawText(cr, "VOR", lx, ly, 0.16);
    }
    cairo_restore(cr);

    // ADF pose: clip to the strip and draw in the window's coordinates of that pose.
    cairo_save(cr);
    cairo_rectangle(cr, stripLow, -p.halfHeight, stripHigh - stripLow, 2 * p.halfHeight);
    cairo_clip(cr);
    cairo_translate(cr, -p.adfX, -p.adfY);
    {
        const double x0 = std::min(edge, p.adfX + stripInner), x1 = std::max(edge, p.adfX + stripInner);
        const double cx = (x0 + x1) / 2, margin = 0.035;
        const double top = p.adfY + 0.75, bottom = top - 1.30;
        Plate(cr, x0 + margin, bottom, x1 - margin, top, 0.06);
        SetColour(cr, colour);
        NeedleSymbol(cr, needle, cx, top - 0.25, 0.30, 0.045, false);
        DrawText(cr, "ADF", cx, top - 0.80, 0.17, -90.0 * side);
    }
    cairo_restore(cr);
    return canvas.Colours();
}
