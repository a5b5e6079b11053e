// Drawing surface of the picture generator: quad-space Cairo images, text and polygons.
// Cairo keeps premultiplied colour, which is exactly what the instrument's add pass wants.
#include "Canvas.h"

#include <cmath>
#include <stdexcept>

QuadCanvas::QuadCanvas(int width, int height, double halfWidth, double halfHeight) {
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS)
        throw std::runtime_error("cannot make a drawing surface");
    cr_ = cairo_create(surface_);
    // Quad x -w..w onto pixel columns 0..width, quad y h..-h onto pixel rows 0..height.
    cairo_translate(cr_, width / 2.0, height / 2.0);
    cairo_scale(cr_, width / (2.0 * halfWidth), -height / (2.0 * halfHeight));
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
}

QuadCanvas::~QuadCanvas() {
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
}

namespace {

// Cairo keeps premultiplied ARGB in native 32-bit words; premultiplied colour is exactly the
// colour over black, which is what the instrument's add pass needs.
template <typename Fn>
Picture Convert(cairo_surface_t* surface, Fn fn) {
    cairo_surface_flush(surface);
    const int w = cairo_image_surface_get_width(surface);
    const int h = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    Picture out(w, h);
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
        for (int x = 0; x < w; ++x) fn(row[x], out.At(x, y));
    }
    return out;
}

}  // namespace

Picture QuadCanvas::Colours() const {
    return Convert(surface_, [](std::uint32_t p, std::uint8_t* o) {
        o[0] = static_cast<std::uint8_t>(p >> 16);
        o[1] = static_cast<std::uint8_t>(p >> 8);
        o[2] = static_cast<std::uint8_t>(p);
    });
}

Picture QuadCanvas::Mask() const {
    return Convert(surface_, [](std::uint32_t p, std::uint8_t* o) {
        const auto m = static_cast<std::uint8_t>(255 - (p >> 24));
        o[0] = o[1] = o[2] = m;
    });
}

namespace {

// Font size that gives capital letters the wanted height (DejaVu's caps are about 0.73 em,
// measured rather than assumed so that another font still fits).
double FontSizeFor(cairo_t* cr, double capHeight, bool bold) {
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 100.0);
    cairo_text_extents_t ext;
    cairo_text_extents(cr, "H", &ext);
    const double capPerSize = ext.height > 0 ? ext.height / 100.0 : 0.73;
    const double size = capHeight / capPerSize;
    cairo_set_font_size(cr, size);
    return size;
}

}  // namespace

double TextWidth(cairo_t* cr, const std::string& text, double capHeight, bool bold) {
    cairo_save(cr);
    FontSizeFor(cr, capHeight, bold);
    cairo_text_extents_t ext;
    cairo_text_extents(cr, text.c_str(), &ext);
    cairo_restore(cr);
    return ext.width;
}

double DrawText(cairo_t* cr, const std::string& text, double x, double y, double capHeight,
                double angleDeg, Align align, bool bold) {
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_rotate(cr, angleDeg * M_PI / 180.0);
    cairo_scale(cr, 1.0, -1.0);  // glyphs are laid out with y down
    FontSizeFor(cr, capHeight, bold);
    cairo_text_extents_t ext;
    cairo_text_extents(cr, text.c_str(), &ext);
    double left = -ext.x_bearing;  // ink starts at the anchor
    if (align == Align::Centre) left -= ext.width / 2.0;
    if (align == Align::Right) left -= ext.width;
    cairo_new_path(cr);
    cairo_move_to(cr, left, capHeight / 2.0);
    cairo_text_path(cr, text.c_str());
    cairo_fill(cr);
    cairo_restore(cr);
    return ext.width;
}

void SetColour(cairo_t* cr, Rgb c, double alpha) { cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha); }

void Polygon(cairo_t* cr, std::initializer_list<double> xy) {
    bool first = true;
    for (auto it = xy.begin(); it != xy.end() && it + 1 != xy.end(); it += 2) {
        if (first) cairo_move_to(cr, it[0], it[1]);
        else cairo_line_to(cr, it[0], it[1]);
        first = false;
    }
    cairo_close_path(cr);
}
