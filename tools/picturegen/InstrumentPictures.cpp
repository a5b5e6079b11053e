// The dial group of the instrument: the compass card, the fixed face with its bezel and the
// two needles. All are 512 x 512 pictures of a quad of half-size 1 drawn at depth 2.4, where
// the view is 0.994 high either side of the centre, so the face's corners reach the window's.
#include "Pictures.h"

#include <cmath>

namespace {

constexpr int DialPixels = 512;
constexpr double Deg = M_PI / 180.0;

// A point at radius r in the direction of a compass bearing (clockwise from the top).
void Polar(double bearing, double r, double& x, double& y) {
    x = r * std::sin(bearing * Deg);
    y = r * std::cos(bearing * Deg);
}

void RadialLine(cairo_t* cr, double bearing, double r0, double r1, double width) {
    double x0, y0, x1, y1;
    Polar(bearing, r0, x0, y0);
    Polar(bearing, r1, x1, y1);
    cairo_set_line_width(cr, width);
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
    cairo_stroke(cr);
}

}  // namespace

Picture DrawCard() {
    QuadCanvas canvas(DialPixels, DialPixels, 1.0, 1.0);
    cairo_t* cr = canvas.Cr();
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);

    const Rgb white{1, 1, 1};
    SetColour(cr, white);
    for (int bearing = 0; bearing < 360; bearing += 5) {
        const bool ten = bearing % 10 == 0;
        RadialLine(cr, bearing, ten ? 0.70 : 0.75, look::TickOuter, ten ? 0.016 : 0.010);
    }
    // Numerals every 30 degrees, their feet towards the centre, upright at the top.
    static const char* const labels[12] = {"N", "3", "6", "E", "12", "15",
                                           "S", "21", "24", "W", "30", "33"};
    for (int i = 0; i < 12; ++i) {
        const double bearing = i * 30.0;
        const bool cardinal = i % 3 == 0;
        const double cap = cardinal ? 0.12 : 0.10;
        double x, y;
        Polar(bearing, 0.605, x, y);
        DrawText(cr, labels[i], x, y, cap, -bearing);
    }
    return canvas.Colours();
}

void DrawFace(Picture& face, Picture& mask) {
    QuadCanvas canvas(DialPixels, DialPixels, 1.0, 1.0);
    cairo_t* cr = canvas.Cr();
    const double open = look::OpeningRadius;

    // Bezel: everything outside the opening, lit faintly from the top left.
    cairo_pattern_t* shade = cairo_pattern_create_linear(-1, 1, 1, -1);
    cairo_pattern_add_color_stop_rgb(shade, 0, 0.22, 0.22, 0.23);
    cairo_pattern_add_color_stop_rgb(shade, 1, 0.11, 0.11, 0.12);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    cairo_rectangle(cr, -1, -1, 2, 2);
    cairo_new_sub_path(cr);
    cairo_arc(cr, 0, 0, open, 0, 2 * M_PI);
    cairo_set_source(cr, shade);
    cairo_fill(cr);
    cairo_pattern_destroy(shade);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);

    // Rim: a bevelled ring, bright where the light falls, dark on the far side.
    cairo_pattern_t* bevel = cairo_pattern_create_linear(-0.6, 0.6, 0.6, -0.6);
    cairo_pattern_add_color_stop_rgb(bevel, 0, 0.62, 0.62, 0.64);
    cairo_pattern_add_color_stop_rgb(bevel, 1, 0.20, 0.20, 0.21);
    cairo_set_source(cr, bevel);
    cairo_set_line_width(cr, look::RimWidth);
    cairo_arc(cr, 0, 0, open + look::RimWidth / 2, 0, 2 * M_PI);
    cairo_stroke(cr);
    cairo_pattern_destroy(bevel);
    cairo_set_source_rgb(cr, 0.05, 0.05, 0.05);  // a dark seam between rim and bezel
    cairo_set_line_width(cr, 0.006);
    cairo_arc(cr, 0, 0, open + look::RimWidth + 0.003, 0, 2 * M_PI);
    cairo_stroke(cr);

    // Case edge and screws, inside the corner areas that a square window shows.
    cairo_set_source_rgb(cr, 0.30, 0.30, 0.31);
    cairo_set_line_width(cr, 0.008);
    cairo_rectangle(cr, -0.975, -0.975, 1.95, 1.95);
    cairo_stroke(cr);
    for (int corner = 0; corner < 4; ++corner) {
        const double sx = corner % 2 ? 1 : -1, sy = corner / 2 ? 1 : -1;
        const double cx = 0.915 * sx, cy = 0.915 * sy;
        cairo_set_source_rgb(cr, 0.34, 0.34, 0.35);
        cairo_arc(cr, cx, cy, 0.032, 0, 2 * M_PI);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0.06, 0.06, 0.06);
        cairo_save(cr);
        cairo_translate(cr, cx, cy);
        RadialLine(cr, 30.0 + 50.0 * corner, -0.026, 0.026, 0.010);  // the screw's slot
        cairo_restore(cr);
    }

    // Index marks every 45 degrees on the rim; the one at the top is the lubber mark, larger
    // and reaching onto the graduations so that the heading reads off against it.
    const Rgb markColour{0.96, 0.96, 0.96};
    for (int i = 0; i < 8; ++i) {
        const double bearing = 45.0 * i;
        const bool lubber = i == 0;
        const double apex = lubber ? look::TickOuter - 0.035 : open - 0.005;
        const double base = open + (lubber ? 0.10 : 0.07);
        const double half = lubber ? 0.045 : 0.028;
        double ax, ay, bx, by;
        Polar(bearing, apex, ax, ay);
        Polar(bearing, base, bx, by);
        const double px = std::cos(bearing * Deg) * half, py = -std::sin(bearing * Deg) * half;
        cairo_new_path(cr);
        Polygon(cr, {ax, ay, bx + px, by + py, bx - px, by - py});
        SetColour(cr, markColour);
        cairo_fill_preserve(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_set_line_width(cr, 0.006);
        cairo_stroke(cr);
    }

    // The aircraft symbol, fixed in the centre with its nose to the top.
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    const auto stroke = [&](double x0, double y0, double x1, double y1, double w) {
        cairo_move_to(cr, x0, y0);
        cairo_line_to(cr, x1, y1);
        cairo_set_line_width(cr, w);
        cairo_stroke(cr);
    };
    for (int pass = 0; pass < 2; ++pass) {
        // A black outline first keeps the symbol clear where a needle's colour runs by.
        const double extra = pass == 0 ? 0.014 : 0.0;
        if (pass == 0) cairo_set_source_rgb(cr, 0, 0, 0);
        else SetColour(cr, markColour);
        stroke(0, -0.095, 0, 0.105, 0.024 + extra);     // fuselage
        stroke(-0.095, 0.02, 0.095, 0.02, 0.024 + extra);  // wings
        stroke(-0.040, -0.080, 0.040, -0.080, 0.018 + extra);  // tailplane
    }

    face = canvas.Colours();
    mask = canvas.Mask();
}

namespace {

// Head and tail of the single-bar needle, with the gap over the aircraft symbol between.
void Needle1Outline(cairo_t* cr) {
    const double bar = 0.016, head = 0.065, headBase = 0.58;
    Polygon(cr, {-bar, look::NeedleGap, -bar, headBase, -head, headBase, 0, look::NeedleTip,
                 head, headBase, bar, headBase, bar, look::NeedleGap});
    Polygon(cr, {-bar, -look::NeedleGap, -bar, -0.62, -0.048, -0.70, -0.048, -0.78, 0, -0.73,
                 0.048, -0.78, 0.048, -0.70, bar, -0.62, bar, -look::NeedleGap});
}

}  // namespace

void DrawNeedle1(Picture& needle, Picture& mask) {
    QuadCanvas canvas(DialPixels, DialPixels, 1.0, 1.0);
    cairo_t* cr = canvas.Cr();
    cairo_new_path(cr);
    Needle1Outline(cr);
    // A black border (inside the mask) keeps the needle readable over white numerals.
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 0.016);
    cairo_stroke_preserve(cr);
    SetColour(cr, look::Needle1Colour);
    cairo_fill(cr);
    needle = canvas.Colours();
    mask = canvas.Mask();
}

void DrawNeedle2(Picture& needle, Picture& mask) {
    QuadCanvas canvas(DialPixels, DialPixels, 1.0, 1.0);
    cairo_t* cr = canvas.Cr();
    const double gap = 0.034, line = 0.020, headBase = 0.55, headHalf = 0.085;
    SetColour(cr, look::Needle2Colour);
    cairo_set_line_width(cr, line);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    // Head: the two bars run into a hollow arrowhead; a crossbar closes them by the centre.
    cairo_move_to(cr, -gap, look::NeedleGap);
    cairo_line_to(cr, -gap, headBase);
    cairo_line_to(cr, -headHalf, headBase);
    cairo_line_to(cr, 0, look::NeedleTip - 0.015);
    cairo_line_to(cr, headHalf, headBase);
    cairo_line_to(cr, gap, headBase);
    cairo_line_to(cr, gap, look::NeedleGap);
    cairo_close_path(cr);
    cairo_stroke(cr);
    // Tail: the bars spread into a forked end, closed by a crossbar by the centre.
    cairo_move_to(cr, -gap, -look::NeedleGap);
    cairo_line_to(cr, -gap, -0.64);
    cairo_line_to(cr, -0.075, -0.76);
    cairo_line_to(cr, 0, -0.71);
    cairo_line_to(cr, 0.075, -0.76);
    cairo_line_to(cr, gap, -0.64);
    cairo_line_to(cr, gap, -look::NeedleGap);
    cairo_close_path(cr);
    cairo_stroke(cr);
    needle = canvas.Colours();
    mask = canvas.Mask();
}
