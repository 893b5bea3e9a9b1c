// The window's DPI and the scaling of the window table and its font.
#include "platform/win32/win32_dpi.h"

namespace win32 {
namespace {

using GetDpiForWindowFunction = decltype(&::GetDpiForWindow);

// Null before Windows 10 1607. Looked up once: user32 stays loaded for the program's life.
GetDpiForWindowFunction DpiForWindow() {
  static const GetDpiForWindowFunction function = [] {
    FARPROC found = GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow");
    // Through the generic function type, which GCC lets any function pointer become.
    return reinterpret_cast<GetDpiForWindowFunction>(reinterpret_cast<void (*)()>(found));
  }();
  return function;
}

int SystemDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi;
}

}  // namespace

int WindowDpi(HWND window) {
  int dpi = 0;
  if (GetDpiForWindowFunction function = DpiForWindow()) dpi = static_cast<int>(function(window));
  if (dpi <= 0) dpi = SystemDpi();
  return dpi > 0 ? dpi : kDesignDpi;
}

int ScaleToDpi(int pixels, int dpi) {
  return MulDiv(pixels, dpi, kDesignDpi);
}

std::string FontFaceAtDpi(const std::string& face, int dpi) {
  // MS Sans Serif is a set of bitmaps drawn for 96 per inch; its TrueType twin scales.
  if (dpi != kDesignDpi && face == "MS Sans Serif") return "Microsoft Sans Serif";
  return face;
}

HFONT CreateFontAtDpi(const std::string& face, int points, int dpi) {
  return CreateFontA(-MulDiv(points, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, FontFaceAtDpi(face, dpi).c_str());
}

}  // namespace win32
