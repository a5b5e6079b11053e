// The bitmap font picture ("font.bmp": a 16 x 16 grid of 16-pixel cells, white on black) and
// the program's icon (a small aeroplane). The font holds the Windows-1252 characters, the
// 8-bit code page the program's texts use; control codes and unassigned codes stay empty.
#include "Pictures.h"

#include <cmath>
#include <algorithm>
#include <cstdint>
#include <string>

namespace {

// Windows-1252 code to Unicode; 0 where the code page assigns no printable character.
std::uint32_t CodePageToUnicode(int code) {
    static const std::uint16_t high[32] = {
        0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};
    if (code < 0x20 || code == 0x7F || code == 0xA0) return 0;
    if (code >= 0x80 && code < 0xA0) return high[code - 0x80];
    return static_cast<std::uint32_t>(code);
}

std::string Utf8(std::uint32_t cp) {
    std::string s;
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return s;
}

}  // namespace

Picture DrawFont() {
    constexpr int Cell = 16;
    QuadCanvas canvas(16 * Cell, 16 * Cell, 1.0, 1.0);
    cairo_t* cr = canvas.Cr();
    cairo_identity_matrix(cr);  // plain pixels, y down, as the grid is described
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_select_font_face(cr, "DejaVu Sans Mono", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    // The font lists advance 10 units per character over a 16-unit cell: a monospaced face
    // whose advance is about 10 pixels, glyphs starting at the cell's left edge.
    cairo_set_font_size(cr, 13.5);
    for (int code = 0; code < 256; ++code) {
        const std::uint32_t cp = CodePageToUnicode(code);
        if (cp == 0) continue;
        const std::string text = Utf8(cp);
        const double x = (code % 16) * Cell, y = (code / 16) * Cell;
        cairo_save(cr);
        cairo_rectangle(cr, x, y, Cell, Cell);
        cairo_clip(cr);
        cairo_move_to(cr, x + 0.5, y + 13.0);  // room for accents above and descenders below
        cairo_show_text(cr, text.c_str());
        cairo_restore(cr);
    }
    return canvas.Colours();
}

IconImage DrawIcon() {
    constexpr int Size = 32;
    QuadCanvas canvas(Size, Size, 1.0, 1.0);
    cairo_t* cr = canvas.Cr();
    cairo_identity_matrix(cr);
    // Right half of the aeroplane seen from above, nose up, as (x from the centre line, y).
    static const double half[][2] = {{0, 1.5},   {1.6, 3},   {2, 6},      {2, 11},
                                     {14, 17},   {14, 19.5}, {2, 17},     {1.7, 24},
                                     {7, 27.5},  {7, 29.5},  {1.2, 28.5}, {0, 30.5}};
    const int n = sizeof half / sizeof half[0];
    cairo_new_path(cr);
    for (int i = 0; i < n; ++i) cairo_line_to(cr, 16 + half[i][0], half[i][1]);
    for (int i = n - 2; i > 0; --i) cairo_line_to(cr, 16 - half[i][0], half[i][1]);
    cairo_close_path(cr);
    cairo_set_source_rgb(cr, 0.97, 0.85, 0.25);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.15, 0.15, 0.18);
    cairo_set_line_width(cr, 1.2);
    cairo_stroke(cr);

    // Straight colours and alpha from the surface's premultiplied pixels.
    const Picture colours = canvas.Colours();
    const Picture mask = canvas.Mask();
    IconImage icon;
    icon.size = Size;
    icon.rgba.resize(Size * Size * 4);
    for (int y = 0; y < Size; ++y)
        for (int x = 0; x < Size; ++x) {
            const std::uint8_t* c = colours.At(x, y);
            const int alpha = 255 - mask.At(x, y)[0];
            std::uint8_t* o = &icon.rgba[(y * Size + x) * 4];
            for (int k = 0; k < 3; ++k)
                o[k] = static_cast<std::uint8_t>(alpha ? std::min(255, (c[k] * 255 + alpha / 2) / alpha) : 0);
            o[3] = static_cast<std::uint8_t>(alpha);
        }
    return icon;
}
