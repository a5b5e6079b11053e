// The instrument's pictures as OpenGL textures, and the bitmap font as display lists.
// Runs at every window creation with the window's rendering context current.
#pragma once

#include "display/PictureFiles.h"

#include <cstdint>
#include <memory>

// One decoded picture: width x height pixels of red, green, blue bytes, bottom row first,
// each row padded to a multiple of 4 bytes (the GL's default unpack alignment).
struct RgbImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::unique_ptr<unsigned char[]> pixels;
};

extern std::uint32_t TextureNames[TextureCount];
extern std::uint32_t FontTextureName;
extern std::uint32_t FontListBase;

// Reads a Windows bitmap file; null for an absent or empty name, a missing file, a
// folder, or a file it cannot read. Never shows a message.
std::unique_ptr<RgbImage> LoadBitmapFile(const char* fileName);

// Loads the eleven pictures and the font picture; in FSUIPC mode also opens the link.
bool LoadTextures();
// Builds the 256 font display lists over the font texture.
void MakeFontLists();
