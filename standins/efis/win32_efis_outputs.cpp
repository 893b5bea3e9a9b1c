// korvan-efis.exe's outputs: keys from the console, frames queued on the device's PIPE00.
#include <conio.h>
#include <windows.h>

#include "standins/efis/efis_outputs.h"
#include "standins/efis/win32_efis_device.h"

namespace efisunit {

Win32EfisDevice* OutputDevice = nullptr;

void UnitOutputs::Begin() {
  // A console's keys are polled (KeysReady); with no console none come.
  DWORD mode = 0;
  keyFd_ = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) ? 0 : -1;
}

void UnitOutputs::RestoreKeys() {}

void UnitOutputs::KeysReady(std::uint64_t now) {
  if (keyFd_ < 0) return;
  while (_kbhit()) TakeKey(static_cast<char>(_getch()), now);
}

// `conn` is 0 while PIPE00 is open, -1 when not.
void UnitOutputs::Send(int conn, const std::uint8_t* frame, std::size_t size, long* sent) {
  // Not queued: the bridge does not read, or the connection is ending.
  Sent(conn >= 0 && OutputDevice != nullptr && OutputDevice->Queue(frame, size), frame, size, sent);
}

}  // namespace efisunit
