// Software composition of one instrument frame from the pictures, per pixel: the eye ray
// meets each quad's plane, the turn is undone, the texture is sampled and blended.
#include "Preview.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

enum class Pass { Mask, Add };

struct Frame {
    int width, height;
    std::vector<float> rgb;  // 0..1, top row first
};

// Bilinear sample as GL_LINEAR with the default GL_REPEAT wrap; t = 0 is the picture's
// bottom row, which the instrument uploads first.
void Sample(const Picture& pic, double s, double t, float out[3]) {
    const double fx = s * pic.width - 0.5, fy = t * pic.height - 0.5;
    const int x0 = static_cast<int>(std::floor(fx)), y0 = static_cast<int>(std::floor(fy));
    const double ax = fx - x0, ay = fy - y0;
    const auto wrap = [](int v, int n) { return ((v % n) + n) % n; };
    for (int k = 0; k < 3; ++k) out[k] = 0;
    for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
            const double w = (dx ? ax : 1 - ax) * (dy ? ay : 1 - ay);
            const int px = wrap(x0 + dx, pic.width);
            const int row = pic.height - 1 - wrap(y0 + dy, pic.height);
            const std::uint8_t* p = pic.At(px, row);
            for (int k = 0; k < 3; ++k) out[k] += static_cast<float>(w * p[k] / 255.0);
        }
}

// One textured quad of half-size hw x hh centred at (cx, cy, -depth), turned
// counterclockwise by turn degrees, its colours multiplied by colour.
void DrawQuad(Frame& f, const Picture& pic, double cx, double cy, double depth, double turn,
              double hw, double hh, Rgb colour, Pass pass) {
    const double halfH = geometry::HalfHeightAt(depth);
    const double halfW = halfH * f.width / f.height;
    const double c = std::cos(turn * M_PI / 180.0), s = std::sin(turn * M_PI / 180.0);
    const float tint[3] = {static_cast<float>(colour.r), static_cast<float>(colour.g),
                           static_cast<float>(colour.b)};
    for (int j = 0; j < f.height; ++j)
        for (int i = 0; i < f.width; ++i) {
            const double x = ((i + 0.5) / f.width * 2 - 1) * halfW - cx;
            const double y = (1 - (j + 0.5) / f.height * 2) * halfH - cy;
            const double u = c * x + s * y, v = -s * x + c * y;  // undo the turn
            if (std::fabs(u) > hw || std::fabs(v) > hh) continue;
            float texel[3];
            Sample(pic, (u / hw + 1) / 2, (v / hh + 1) / 2, texel);
            float* d = &f.rgb[(static_cast<std::size_t>(j) * f.width + i) * 3];
            for (int k = 0; k < 3; ++k) {
                const float src = texel[k] * tint[k];
                d[k] = pass == Pass::Mask ? d[k] * src : std::min(1.0f, d[k] + src);
            }
        }
}

}  // namespace

Picture RenderPreview(const PictureSet& set, int width, int height, const PreviewState& st) {
    Frame f{width, height, std::vector<float>(static_cast<std::size_t>(width) * height * 3, 0.f)};
    const Rgb white{1, 1, 1}, green{0, 1, 0};
    const double d = geometry::DialDepth;
    // The buffer is black after the clear, so the card's first pass is a plain add.
    DrawQuad(f, set.card, 0, 0, d, st.cardAngle, 1, 1, white, Pass::Add);
    DrawQuad(f, set.faceMask, 0, 0, d, 0, 1, 1, white, Pass::Mask);
    DrawQuad(f, set.face, 0, 0, d, 0, 1, 1, white, Pass::Add);
    DrawQuad(f, set.needle2, 0, 0, d, -st.needle2Angle, 1, 1, white, Pass::Add);
    DrawQuad(f, set.needle1Mask, 0, 0, d, -st.needle1Angle, 1, 1, white, Pass::Mask);
    DrawQuad(f, set.needle1, 0, 0, d, -st.needle1Angle, 1, 1, white, Pass::Add);
    if (st.positionMode)
        DrawQuad(f, set.positionMode, 0, 0, geometry::ModeDepth, 0, 1, 1, green, Pass::Add);
    if (st.sizeMode) DrawQuad(f, set.sizeMode, 0, 0, geometry::ModeDepth, 0, 1, 1, green, Pass::Add);
    const auto selector = [&](const Picture& pic, const geometry::SelectorPlacement& p, bool vor) {
        if (vor)
            DrawQuad(f, pic, p.vorX, p.vorY, geometry::SelectorDepth, p.vorTurn, p.halfWidth,
                     p.halfHeight, white, Pass::Add);
        else
            DrawQuad(f, pic, p.adfX, p.adfY, geometry::SelectorDepth, 0, p.halfWidth,
                     p.halfHeight, white, Pass::Add);
    };
    selector(set.needle2Selector, geometry::Needle2Selector, st.needle2Vor);
    selector(set.needle1Selector, geometry::Needle1Selector, st.needle1Vor);

    Picture out(width, height);
    for (std::size_t k = 0; k < f.rgb.size(); ++k)
        out.rgb[k] = static_cast<std::uint8_t>(std::lround(std::clamp(f.rgb[k], 0.f, 1.f) * 255));
    return out;
}

void WritePng(const Picture& picture, const std::string& path) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, picture.width, picture.height);
    cairo_surface_flush(s);
    unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < picture.height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
        for (int x = 0; x < picture.width; ++x) {
            const std::uint8_t* p = picture.At(x, y);
            row[x] = (0xFFu << 24) | (std::uint32_t(p[0]) << 16) | (std::uint32_t(p[1]) << 8) | p[2];
        }
    }
    cairo_surface_mark_dirty(s);
    const cairo_status_t status = cairo_surface_write_to_png(s, path.c_str());
    cairo_surface_destroy(s);
    if (status != CAIRO_STATUS_SUCCESS) throw std::runtime_error("cannot write " + path);
}
