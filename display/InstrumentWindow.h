// The instrument window: its creation with a current OpenGL context, its destruction,
// the viewport and projection, the scene initialisation, and the window procedure that
// turns keyboard, activation, close, move and size messages into shared state.
#pragma once

#include "platform/WinTypes.h"

// Message box texts and captions of the window set-up and teardown.
namespace windowtexts {
inline constexpr char ClassName[] = "OpenGl";
inline constexpr char ClassNameForUnregister[] = "OpenGL";
inline constexpr char ErrorCaption[] = "Error";
inline constexpr char ShutdownCaption[] = " Shutdown Error";
inline constexpr char UnregisterCaption[] = "SHUTDOWN ERROR";
inline constexpr char RegisterFailed[] = "Failed To Register The Window Class.";
inline constexpr char CreateFailed[] = "Window creation error.";
inline constexpr char NoDeviceContext[] = "Cant't create a GL device context.";
inline constexpr char NoPixelFormat[] = "Cant't Find A Suitable PixelFormat.";
inline constexpr char SetPixelFormatFailed[] = "Cant't set PixelFormat.";
inline constexpr char NoRenderingContext[] = "Cant't create a GL rendering context.";
inline constexpr char ActivateFailed[] = "Cant't activate the GL rendering context.";
inline constexpr char InitFailed[] = "initialization failed.";
inline constexpr char ReleaseDcRcFailed[] = "Release of DC and RC failed.";
inline constexpr char ReleaseRcFailed[] = "Release of Rendering Context failed.";
inline constexpr char ReleaseDcFailed[] = "Release of Device Context failed.";
inline constexpr char ReleaseWindowFailed[] = "Could not release hWnd.";
inline constexpr char UnregisterFailed[] = "Could Not Unregister Class.";
}  // namespace windowtexts

extern HWND WindowHandle;
extern HDC DeviceContext;
extern HGLRC RenderingContext;
// True while a key is down, by Windows virtual-key code.
extern bool KeyStates[256];
// True while the window is not minimised.
extern bool WindowActive;

bool CreateInstrumentWindow(const char* title, int width, int height, int colorBits, bool borderless);
void DestroyInstrumentWindow();
void ResizeScene(int width, int height);
bool InitScene();
// The GL state every new window starts from (texturing, shading, clear values, depth test).
void SetSceneState();
LRESULT CALLBACK InstrumentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
