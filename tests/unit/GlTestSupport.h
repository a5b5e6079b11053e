// Real OpenGL for the unit tests: a hidden GLFW window with the instrument's projection and
// scene state, pictures built in memory (uploaded directly or written as bitmap files), and
// pixel readback from the back buffer (the front buffer reads as black under Xvfb).
// Header-only, because each test program is linked with TestSupport.cpp alone.
#pragma once

#include "display/InstrumentWindow.h"
#include "platform/OpenGL.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace gltest {

// A picture as the tests paint it: tightly packed RGB, bottom row first, so (u, v) in 0..1
// has v = 0 at the bottom edge just like texture coordinates.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;

    struct Colour {
        std::uint8_t r, g, b;
        bool operator==(const Colour& o) const { return r == o.r && g == o.g && b == o.b; }
    };

    Picture(int w, int h, Colour fill) : width(w), height(h), rgb(std::size_t(w) * h * 3) {
        Fill(0, 0, 1, 1, fill);
    }
    // Paints the region u0 <= u < u1, v0 <= v < v1 of the picture.
    Picture& Fill(double u0, double v0, double u1, double v1, Colour c) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const double u = (x + 0.5) / width, v = (y + 0.5) / height;
                if (u >= u0 && u < u1 && v >= v0 && v < v1) Set(x, y, c);
            }
        return *this;
    }
    void Set(int x, int y, Colour c) {
        std::uint8_t* p = &rgb[(std::size_t(y) * width + x) * 3];
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
    }
    Colour At(int x, int y) const {
        const std::uint8_t* p = &rgb[(std::size_t(y) * width + x) * 3];
        return {p[0], p[1], p[2]};
    }
};

inline constexpr Picture::Colour Black{0, 0, 0};
inline constexpr Picture::Colour White{255, 255, 255};

// The picture as a 24-bit Windows bitmap file: BGR, bottom row first, rows padded to 4 bytes.
inline std::string BitmapFileBytes(const Picture& p) {
    const std::uint32_t row = (std::uint32_t(p.width) * 3 + 3) & ~3u;
    const std::uint32_t dataSize = row * std::uint32_t(p.height);
    std::string out;
    auto u16 = [&](std::uint32_t v) { out += char(v & 0xFF), out += char((v >> 8) & 0xFF); };
    auto u32 = [&](std::uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    out += "BM";
    u32(54 + dataSize), u32(0), u32(54);
    u32(40), u32(std::uint32_t(p.width)), u32(std::uint32_t(p.height)), u16(1), u16(24);
    u32(0), u32(dataSize), u32(2835), u32(2835), u32(0), u32(0);
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const Picture::Colour c = p.At(x, y);
            out += char(c.b), out += char(c.g), out += char(c.r);
        }
        out.append(row - std::uint32_t(p.width) * 3, '\0');
    }
    return out;
}

// Uploads a picture into a texture name the way the program's textures are made (linear).
inline void UploadPicture(GLuint name, const Picture& p) {
    glBindTexture(GL_TEXTURE_2D, name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, 3, p.width, p.height, 0, GL_RGB, GL_UNSIGNED_BYTE,
                 p.rgb.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
}

// The level-0 image of a texture, tightly packed RGB, bottom row first.
inline Picture ReadTexture(GLuint name) {
    glBindTexture(GL_TEXTURE_2D, name);
    GLint w = 0, h = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    Picture p(w, h, Black);
    if (w > 0 && h > 0) {
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, p.rgb.data());
    }
    return p;
}

// A hidden window whose GL state is what the instrument's scene set-up leaves: the 45 degree
// perspective, textures on, depth test on with LEQUAL, black clear colour, blending off.
class GlWindowTest : public ::testing::Test {
protected:
    static constexpr int Width = 400;
    static constexpr int Height = 400;

    static void SetUpTestSuite() {
        if (!std::getenv("DISPLAY") || !glfwInit()) return;
        glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
        glfwWindowHint(GLFW_DOUBLEBUFFER, GLFW_TRUE);
        glfwWindowHint(GLFW_DEPTH_BITS, 24);
        window_ = glfwCreateWindow(Width, Height, "gl test", nullptr, nullptr);
    }
    static void TearDownTestSuite() {
        if (window_) glfwDestroyWindow(window_);
        window_ = nullptr;
        glfwTerminate();
    }

    void SetUp() override {
        ASSERT_NE(window_, nullptr) << "no OpenGL window (is DISPLAY set to a running X server?)";
        glfwMakeContextCurrent(window_);
        ResetSceneState();
    }

    // The state a fresh window starts from, as the scene set-up makes it.
    static void ResetSceneState() {
        ResizeScene(Width, Height);
        glDisable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ZERO);
        glColor3f(1, 1, 1);
        SetSceneState();
    }

    // The frame as drawn so far, read from the back buffer before any swap.
    static Picture ReadFrame() {
        Picture p(Width, Height, Black);
        glFinish();
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, Width, Height, GL_RGB, GL_UNSIGNED_BYTE, p.rgb.data());
        return p;
    }

    static GLFWwindow* window_;
};

inline GLFWwindow* GlWindowTest::window_ = nullptr;

// Where eye coordinates (x, y, z) land in a window of this size, in pixels from the lower left.
inline void ProjectToWindow(double x, double y, double z, int width, int height, double& px,
                            double& py) {
    const double t = std::tan(22.5 * M_PI / 180.0);
    px = (x / -z / (t * width / height) + 1.0) * 0.5 * width;
    py = (y / -z / t + 1.0) * 0.5 * height;
}

// Centre of gravity and count of the frame's pixels that match.
struct Blob {
    double x = 0, y = 0;
    int count = 0;
};
inline Blob FindBlob(const Picture& frame, const std::function<bool(Picture::Colour)>& match,
                     int x0 = 0, int y0 = 0, int x1 = -1, int y1 = -1) {
    if (x1 < 0) x1 = frame.width;
    if (y1 < 0) y1 = frame.height;
    Blob b;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (match(frame.At(x, y))) b.x += x + 0.5, b.y += y + 0.5, ++b.count;
    if (b.count) b.x /= b.count, b.y /= b.count;
    return b;
}

// The largest difference of any channel between two frames of the same size.
inline int LargestDifference(const Picture& a, const Picture& b) {
    int largest = 0;
    for (std::size_t i = 0; i < a.rgb.size() && i < b.rgb.size(); ++i)
        largest = std::max(largest, std::abs(int(a.rgb[i]) - int(b.rgb[i])));
    return largest;
}

}  // namespace gltest
