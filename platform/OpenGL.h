// OpenGL 1.1 and GLU, included the way each platform needs them.
#pragma once

#include "platform/WinTypes.h"
#include <GL/gl.h>
#include <GL/glu.h>
