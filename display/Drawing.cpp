// One frame of the bearing indicator, drawn as flat textured quads in front of the viewer:
// the turning card under the fixed face, needle 2 added on top, needle 1 masked over it, the
// green mode pictures and the two source selectors. OpenGL 1.1 immediate mode only.
// Blending is switched on and the depth test off at the first mask pass and left that way, so
// every frame after the first starts in that state; the picture is the same either way.
#include "display/Drawing.h"

#include "base/InstrumentState.h"
#include "display/InstrumentGeometry.h"
#include "display/Textures.h"
#include "platform/OpenGL.h"

namespace {

// What one layer shows and how it is placed: a picture on a quad centred at (x, y), at a
// depth, turned counter-clockwise by an angle, in one colour.
struct Layer {
    int slot;
    GLfloat x, y, depth;
    GLfloat turn;
    GLfloat halfWidth, halfHeight;
    GLfloat red, green, blue;
};

// How a layer goes onto what is there: as it is (under whatever blending is in force), as a
// mask (white keeps the scene, black blanks it for the picture that follows), or added.
enum class Pass { Plain, Mask, Add };

constexpr GLfloat DialDepth = -static_cast<GLfloat>(geometry::DialDepth);
constexpr GLfloat ModeDepth = -static_cast<GLfloat>(geometry::ModeDepth);
constexpr GLfloat SelectorDepth = -static_cast<GLfloat>(geometry::SelectorDepth);
constexpr GLfloat Dial = static_cast<GLfloat>(geometry::DialHalfSize);

// A dial layer: full size at the dial's depth, white, turned by the angle.
constexpr Layer DialLayer(int slot, GLfloat turn) {
    return {slot, 0.0f, 0.0f, DialDepth, turn, Dial, Dial, 1.0f, 1.0f, 1.0f};
}

// A source selector in its VOR or ADF pose.
Layer SelectorLayer(int slot, const geometry::SelectorPlacement& p, bool vor) {
    Layer layer{slot, 0, 0, SelectorDepth, 0, static_cast<GLfloat>(p.halfWidth), static_cast<GLfloat>(p.halfHeight),
                1.0f, 1.0f, 1.0f};
    layer.x = static_cast<GLfloat>(vor ? p.vorX : p.adfX);
    layer.y = static_cast<GLfloat>(vor ? p.vorY : p.adfY);
    layer.turn = vor ? static_cast<GLfloat>(p.vorTurn) : 0.0f;
    return layer;
}

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

// One layer. The first mask pass of a frame also switches blending on and the depth test off;
// they stay that way, and the additive passes keep blending on.
void DrawLayer(const Layer& layer, Pass pass) {
    if (pass == Pass::Mask) {
        glEnable(GL_BLEND);
        glDisable(GL_DEPTH_TEST);
        glBlendFunc(GL_DST_COLOR, GL_ZERO);
    } else if (pass == Pass::Add) {
        glBlendFunc(GL_ONE, GL_ONE);
    }
    glLoadIdentity();
    glColor3f(layer.red, layer.green, layer.blue);
    glTranslatef(layer.x, layer.y, layer.depth);
    glRotatef(layer.turn, 0.0f, 0.0f, 1.0f);
    glBindTexture(GL_TEXTURE_2D, TextureNames[layer.slot]);
    DrawTexturedQuad(layer.halfWidth, layer.halfHeight);
}

}  // namespace

void DrawDial(float cardAngle) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    // The card turns counter-clockwise by the heading, bringing that heading to the top. It is
    // drawn under whatever blending is in force: onto the cleared black buffer that gives the
    // card's own colours in the first frame and in every later one.
    DrawLayer(DialLayer(SlotCard, cardAngle), Pass::Plain);
    // The fixed face stays put while the card turns under it.
    DrawLayer(DialLayer(SlotFaceMask, 0), Pass::Mask);
    DrawLayer(DialLayer(SlotFace, 0), Pass::Add);
}

void DrawNeedles(float needle1Angle, float needle2Angle) {
    // Needle 2 has no mask: it is added onto the card and the face, and shows through them.
    DrawLayer(DialLayer(SlotNeedle2, -needle2Angle), Pass::Plain);
    // Needle 1 is masked, so it lies over needle 2 where they cross.
    DrawLayer(DialLayer(SlotNeedle1Mask, -needle1Angle), Pass::Mask);
    DrawLayer(DialLayer(SlotNeedle1, -needle1Angle), Pass::Add);
}

void DrawOverlays() {
    // While the arrow keys move or resize the window, a green picture over the middle of the
    // instrument says which of the two they do. Only the green channel of the picture shows.
    const Layer positionMode{SlotPositionMode, 0, 0, ModeDepth, 0, Dial, Dial, 0.0f, 1.0f, 0.0f};
    const Layer sizeMode{SlotSizeMode, 0, 0, ModeDepth, 0, Dial, Dial, 0.0f, 1.0f, 0.0f};
    if (PositionMode) DrawLayer(positionMode, Pass::Plain);
    if (SizeMode) DrawLayer(sizeMode, Pass::Plain);
    // The source selectors in the lower corners: turned in the VOR pose, level and further
    // out in the ADF pose, so only their inner strips show in a square window.
    DrawLayer(SelectorLayer(SlotNeedle2Selector, geometry::Needle2Selector, Needle2Vor), Pass::Plain);
    DrawLayer(SelectorLayer(SlotNeedle1Selector, geometry::Needle1Selector, Needle1Vor), Pass::Plain);
}
