// Keeps a Wine session's desktop up for as long as the session lasts. Wine starts its desktop
// process with the first program that makes a window and ends it about a second after the last
// such program has gone; a test that starts it lends it its output, and its test then seems to
// run until every other window of the session has closed. Started once per session, apart from
// every test, this window (never shown) makes the desktop the session's own.
#include <windows.h>

#include <cstdio>

int main() {
  HWND window = CreateWindowExA(0, "STATIC", "korvan wine session", 0, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  if (window == nullptr) {
    std::printf("failed %lu\n", GetLastError());
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}
