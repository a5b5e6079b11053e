// One frame of the bearing indicator, drawn as flat textured quads in front of the viewer:
// the turning card under the fixed face, needle 2 added on top, needle 1 masked over it, the
// green mode pictures and the two source selectors. OpenGL 1.1 immediate mode only.
// Blending is switched on and the depth test off at the first mask pass and left that way, so
// every frame after the first starts in that state; the picture is the same either way.
#include "display/Drawing.h"

#include "base/InstrumentState.h"
#include "display/Textures.h"
#include "platform/OpenGL.h"

namespace {

// Every dial element sits at this depth; the mode pictures and selectors stand further back.
constexpr GLfloat DialDepth = -2.4f;
constexpr GLfloat ModeDepth = -4.0f;
constexpr GLfloat SelectorDepth = -7.0f;

// The whole picture once, upright (t = 1 at the top), on a quad centred on the origin.
void DrawTexturedQuad(GLfloat w, GLfloat h) {
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2f(-w, -h);
    glTexCoord2f(1.0f, 0.0f);
    glVertex2f(w, -h);
    glTexCoord2f(1.0f, 1.0f);
    glVertex2f(w, h);
    glTexCoord2f(0.0f, 1.0f);
    glVertex2f(-w, h);
    glEnd();
}

// The mask pass: white parts of the mask keep the scene, black parts blank it for the picture
// that follows. The first one in a frame also switches blending on and the depth test off.
void BeginMaskPass() {
    glEnable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glBlendFunc(GL_DST_COLOR, GL_ZERO);
}

}  // namespace

void DrawDial(float cardAngle) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    // The card turns counter-clockwise by the heading, bringing that heading to the top. It is
    // drawn under whatever blending is in force: onto the cleared black buffer that gives the
    // card's own colours in the first frame and in every later one.
    glLoadIdentity();
    glColor3f(1.0f, 1.0f, 1.0f);
    glTranslatef(0.0f, 0.0f, DialDepth);
    glRotatef(cardAngle, 0.0f, 0.0f, 1.0f);
    glBindTexture(GL_TEXTURE_2D, TextureNames[SlotCard]);
    DrawTexturedQuad(1.0f, 1.0f);

    // The fixed face stays put while the card turns under it.
    BeginMaskPass();
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, DialDepth);
    glBindTexture(GL_TEXTURE_2D, TextureNames[SlotFaceMask]);
    DrawTexturedQuad(1.0f, 1.0f);

    glLoadIdentity();
    glBlendFunc(GL_ONE, GL_ONE);
    glBindTexture(GL_TEXTURE_2D, TextureNames[SlotFace]);
    glTranslatef(0.0f, 0.0f, DialDepth);
    DrawTexturedQuad(1.0f, 1.0f);
}

void DrawNeedles(float needle1Angle, float needle2Angle) {
    // Needle 2 has no mask: it is added onto the card and the face, and shows through them.
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, DialDepth);
    glRotatef(-needle2Angle, 0.0f, 0.0f, 1.0f);
    glBindTexture(GL_TEXTURE_2D, TextureNames[SlotNeedle2]);
    DrawTexturedQuad(1.0f, 1.0f);

    // Needle 1 is masked, so it lies over needle 2 where they cross.
    BeginMaskPass();
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, DialDepth);
    glRotatef(-needle1Angle, 0.0f, 0.0f, 1.0f);
    glBindTexture(GL_TEXTURE_2D, TextureNames[SlotNeedle1Mask]);
    DrawTexturedQuad(1.0f, 1.0f);

    glLoadIdentity();
    glBlendFunc(GL_ONE, GL_ONE);
    glBindTexture(GL_TEXTURE_2D, TextureNames[SlotNeedle1]);
    glTranslatef(0.0f, 0.0f, DialDepth);
    glRotatef(-needle1Angle, 0.0f, 0.0f, 1.0f);
    DrawTexturedQuad(1.0f, 1.0f);
}

void DrawOverlays() {
    // While the arrow keys move or resize the window, a green picture over the middle of the
    // instrument says which of the two they do. Only the green channel of the picture shows.
    if (PositionMode) {
        glLoadIdentity();
        glColor3f(0.0f, 1.0f, 0.0f);
        glTranslatef(0.0f, 0.0f, ModeDepth);
        glBindTexture(GL_TEXTURE_2D, TextureNames[SlotPositionMode]);
        DrawTexturedQuad(1.0f, 1.0f);
    }
    if (SizeMode) {
        glLoadIdentity();
        glColor3f(0.0f, 1.0f, 0.0f);
        glTranslatef(0.0f, 0.0f, ModeDepth);
        glBindTexture(GL_TEXTURE_2D, TextureNames[SlotSizeMode]);
        DrawTexturedQuad(1.0f, 1.0f);
    }

    // The source selectors in the lower corners: turned in the VOR pose, level and further
    // out in the ADF pose, so only their inner strips show in a square window.
    glLoadIdentity();
    glColor3f(1.0f, 1.0f, 1.0f);
    if (Needle2Vor) {
        glTranslatef(1.8f, -1.8f, SelectorDepth);
        glRotatef(90.0f, 0.0f, 0.0f, 1.0f);
    } else {
        glTranslatef(3.5f, -1.9f, SelectorDepth);
        glRotatef(0.0f, 0.0f, 0.0f, 1.0f);
    }
    glBindTexture(GL_TEXTURE_2D, TextureNames[SlotNeedle2Selector]);
    DrawTexturedQuad(1.0f, 0.85f);

    glLoadIdentity();
    glColor3f(1.0f, 1.0f, 1.0f);
    if (Needle1Vor) {
        glTranslatef(-2.1f, -1.8f, SelectorDepth);
        glRotatef(270.0f, 0.0f, 0.0f, 1.0f);
    } else {
        glTranslatef(-3.6f, -2.05f, SelectorDepth);
        glRotatef(0.0f, 0.0f, 0.0f, 1.0f);
    }
    glBindTexture(GL_TEXTURE_2D, TextureNames[SlotNeedle1Selector]);
    DrawTexturedQuad(1.0f, 0.8f);
}
