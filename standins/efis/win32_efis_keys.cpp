// korvan-efis.exe's keys: from the console, polled.
#include <conio.h>
#include <windows.h>

#include "standins/efis/efis_outputs.h"

namespace efisunit {

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

}  // namespace efisunit
