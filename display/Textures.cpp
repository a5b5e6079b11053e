// The instrument's pictures as OpenGL textures and the bitmap font as 256 display lists.
// Runs inside the scene set-up with the window's rendering context current; in FSUIPC mode
// the loading step is also where the simulator link is opened.
// A missing picture other than the card is replaced by a 1x1 stand-in (see MakeStandIn), so
// that every slot holds a usable texture whenever the textures are made.
#include "display/Textures.h"

#include "base/Configuration.h"
#include "flightdata/FPCuser.h"
#include "platform/OpenGL.h"

std::uint32_t TextureNames[TextureCount] = {};
std::uint32_t FontTextureName = 0;
std::uint32_t FontListBase = 0;

namespace {

// Slots drawn as masks: the stand-in for a missing one must be white, which leaves the
// instrument beneath unchanged, instead of black, which would blank it out.
bool IsMaskSlot(int slot) {
    return slot == SlotFaceMask || slot == SlotNeedle1Mask || slot == SlotNeedle2Mask;
}

// A one-pixel picture standing in for a file that is missing or could not be read. A black
// picture adds nothing where it is drawn; a white mask covers nothing. Either way the rest of
// the instrument still reads correctly. Rows of one pixel are padded to four bytes.
std::unique_ptr<RgbImage> MakeStandIn(bool white) {
    auto image = std::make_unique<RgbImage>();
    image->width = 1;
    image->height = 1;
    image->pixels = std::make_unique<unsigned char[]>(4);
    const unsigned char level = white ? 255 : 0;
    for (int i = 0; i < 4; ++i) image->pixels[i] = level;
    return image;
}

// A decoded picture is only uploaded when it has pixels to give.
bool Usable(const std::unique_ptr<RgbImage>& image) {
    return image && image->width > 0 && image->height > 0 && image->pixels;
}

// Uploads one picture into the texture bound to GL_TEXTURE_2D, filtered linearly both ways.
// No pixel-store parameters are set: the rows come padded for the default alignment of 4.
void UploadBoundTexture(const RgbImage& image) {
    glTexImage2D(GL_TEXTURE_2D, 0, 3, image.width, image.height, 0, GL_RGB, GL_UNSIGNED_BYTE,
                 image.pixels.get());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
}

}  // namespace

bool LoadTextures() {
    bool result = false;

    // Every file is read first, in the installation's order; only then is anything tested.
    std::unique_ptr<RgbImage> images[TextureCount];
    for (const PictureFile& file : PictureFiles) images[file.slot] = LoadBitmapFile(file.name);
    std::unique_ptr<RgbImage> fontImage = LoadBitmapFile(FontFile);

    // Without the compass card there is no instrument to show: no texture is made at all.
    if (Usable(images[SlotCard])) {
        GLuint names[TextureCount] = {};
        glGenTextures(TextureCount, names);
        for (int slot = 0; slot < TextureCount; ++slot) {
            TextureNames[slot] = names[slot];
            if (!Usable(images[slot])) images[slot] = MakeStandIn(IsMaskSlot(slot));
            glBindTexture(GL_TEXTURE_2D, TextureNames[slot]);
            UploadBoundTexture(*images[slot]);
        }

        GLuint fontName = 0;
        glGenTextures(1, &fontName);
        FontTextureName = fontName;
        if (!Usable(fontImage)) fontImage = MakeStandIn(false);
        glBindTexture(GL_TEXTURE_2D, FontTextureName);
        UploadBoundTexture(*fontImage);

        result = true;
    }
    // The decoded pictures are released here; the GL keeps its own copies.

    // In FSUIPC mode this is where the link to the simulator is opened. Once the pictures are
    // in place, a simulator that is not running yet does not stop the instrument from starting.
    if (!NetworkMode) {
        IpcResult code = IPC_OK;
        if (IpcOpen(0, code)) result = true;
    }
    return result;
}

void MakeFontLists() {
    FontListBase = glGenLists(256);
    // Bound once here: the lists draw with whatever texture is bound when they are called.
    glBindTexture(GL_TEXTURE_2D, FontTextureName);

    const float cell = 0.0625f;  // one sixteenth of the font picture each way
    for (int c = 0; c < 256; ++c) {
        const float cx = static_cast<float>(c % 16) / 16.0f;
        const float cy = static_cast<float>(c / 16) / 16.0f;
        glNewList(FontListBase + c, GL_COMPILE);
        // Row 0 of the grid is the top of the picture, which is t = 1 because the bottom row
        // is uploaded first.
        glBegin(GL_QUADS);
        glTexCoord2f(cx, 1.0f - cy - cell);
        glVertex2i(0, 0);
        glTexCoord2f(cx + cell, 1.0f - cy - cell);
        glVertex2i(16, 0);
        glTexCoord2f(cx + cell, 1.0f - cy);
        glVertex2i(16, 16);
        glTexCoord2f(cx, 1.0f - cy);
        glVertex2i(0, 16);
        glEnd();
        // The glyph is 16 units wide but characters advance by 10, so neighbours overlap.
        glTranslated(10.0, 0.0, 0.0);
        glEndList();
    }
}
