// posix backend: translation of GLFW key numbers into Windows virtual-key codes.
#pragma once

// The virtual-key code of a GLFW key, or 0 for a key Windows has no code for.
int VirtualKeyFromGlfw(int glfwKey);
