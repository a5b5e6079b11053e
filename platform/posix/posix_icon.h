// posix backend: what the window layer needs to know about an icon made by LoadImageA
// (posix_icon.cpp): its size and pixels, in the form glfwSetWindowIcon takes.
#pragma once

#include "platform/WinTypes.h"

// Width, height and RGBA pixels (top row first, 4 bytes a pixel, no padding) of an icon
// from LoadImageA. False for a null, unknown or destroyed handle. The pixels stay valid until
// DestroyIcon.
bool PosixIconPixels(HICON icon, int& width, int& height, const unsigned char*& rgba);

// How many icons are loaded and not yet destroyed (the window keeps one per creation).
#include <cstddef>
std::size_t PosixLiveIconCount();
