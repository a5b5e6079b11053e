// posix backend: the key table, built once and then only indexed. Windows reports both
// Shift, Ctrl and Alt keys as VK_SHIFT, VK_CONTROL and VK_MENU in its key messages, and so
// does this table.
#include "platform/posix/posix_window_keys.h"

#include "platform/WinTypes.h"

#include <GLFW/glfw3.h>

#include <array>

namespace {

std::array<unsigned char, GLFW_KEY_LAST + 1> BuildTable() {
    std::array<unsigned char, GLFW_KEY_LAST + 1> t{};
    for (int k = GLFW_KEY_A; k <= GLFW_KEY_Z; ++k) t[k] = static_cast<unsigned char>('A' + (k - GLFW_KEY_A));
    for (int k = GLFW_KEY_0; k <= GLFW_KEY_9; ++k) t[k] = static_cast<unsigned char>('0' + (k - GLFW_KEY_0));
    for (int k = GLFW_KEY_F1; k <= GLFW_KEY_F24; ++k) t[k] = static_cast<unsigned char>(VK_F1 + (k - GLFW_KEY_F1));
    for (int k = GLFW_KEY_KP_0; k <= GLFW_KEY_KP_9; ++k) t[k] = static_cast<unsigned char>(VK_NUMPAD0 + (k - GLFW_KEY_KP_0));
    t[GLFW_KEY_SPACE] = VK_SPACE;
    t[GLFW_KEY_APOSTROPHE] = VK_OEM_7;
    t[GLFW_KEY_COMMA] = VK_OEM_COMMA;
    t[GLFW_KEY_MINUS] = VK_OEM_MINUS;
    t[GLFW_KEY_PERIOD] = VK_OEM_PERIOD;
    t[GLFW_KEY_SLASH] = VK_OEM_2;
    t[GLFW_KEY_SEMICOLON] = VK_OEM_1;
    t[GLFW_KEY_EQUAL] = VK_OEM_PLUS;
    t[GLFW_KEY_LEFT_BRACKET] = VK_OEM_4;
    t[GLFW_KEY_BACKSLASH] = VK_OEM_5;
    t[GLFW_KEY_RIGHT_BRACKET] = VK_OEM_6;
    t[GLFW_KEY_GRAVE_ACCENT] = VK_OEM_3;
    t[GLFW_KEY_WORLD_1] = VK_OEM_102;
    t[GLFW_KEY_ESCAPE] = VK_ESCAPE;
    t[GLFW_KEY_ENTER] = VK_RETURN;
    t[GLFW_KEY_TAB] = VK_TAB;
    t[GLFW_KEY_BACKSPACE] = VK_BACK;
    t[GLFW_KEY_INSERT] = VK_INSERT;
    t[GLFW_KEY_DELETE] = VK_DELETE;
    t[GLFW_KEY_RIGHT] = VK_RIGHT;
    t[GLFW_KEY_LEFT] = VK_LEFT;
    t[GLFW_KEY_DOWN] = VK_DOWN;
    t[GLFW_KEY_UP] = VK_UP;
    t[GLFW_KEY_PAGE_UP] = VK_PRIOR;
    t[GLFW_KEY_PAGE_DOWN] = VK_NEXT;
    t[GLFW_KEY_HOME] = VK_HOME;
    t[GLFW_KEY_END] = VK_END;
    t[GLFW_KEY_CAPS_LOCK] = VK_CAPITAL;
    t[GLFW_KEY_SCROLL_LOCK] = VK_SCROLL;
    t[GLFW_KEY_NUM_LOCK] = VK_NUMLOCK;
    t[GLFW_KEY_PRINT_SCREEN] = VK_SNAPSHOT;
    t[GLFW_KEY_PAUSE] = VK_PAUSE;
    t[GLFW_KEY_KP_DECIMAL] = VK_DECIMAL;
    t[GLFW_KEY_KP_DIVIDE] = VK_DIVIDE;
    t[GLFW_KEY_KP_MULTIPLY] = VK_MULTIPLY;
    t[GLFW_KEY_KP_SUBTRACT] = VK_SUBTRACT;
    t[GLFW_KEY_KP_ADD] = VK_ADD;
    t[GLFW_KEY_KP_ENTER] = VK_RETURN;
    t[GLFW_KEY_KP_EQUAL] = VK_OEM_PLUS;
    t[GLFW_KEY_LEFT_SHIFT] = VK_SHIFT;
    t[GLFW_KEY_RIGHT_SHIFT] = VK_SHIFT;
    t[GLFW_KEY_LEFT_CONTROL] = VK_CONTROL;
    t[GLFW_KEY_RIGHT_CONTROL] = VK_CONTROL;
    t[GLFW_KEY_LEFT_ALT] = VK_MENU;
    t[GLFW_KEY_RIGHT_ALT] = VK_MENU;
    t[GLFW_KEY_LEFT_SUPER] = VK_LWIN;
    t[GLFW_KEY_RIGHT_SUPER] = VK_RWIN;
    t[GLFW_KEY_MENU] = VK_APPS;
    return t;
}

}  // namespace

int VirtualKeyFromGlfw(int glfwKey) {
    static const auto table = BuildTable();
    if (glfwKey < 0 || glfwKey > GLFW_KEY_LAST) return 0;
    return table[static_cast<std::size_t>(glfwKey)];
}
