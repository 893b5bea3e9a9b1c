// korvan-efis's keys on POSIX: from the terminal, one at a time, or from a pipe.
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "standins/efis/efis_outputs.h"

namespace efisunit {

namespace {

termios savedTerminal;

}  // namespace

void UnitOutputs::Begin() {
  keyFd_ = STDIN_FILENO;
  if (!isatty(STDIN_FILENO)) return;  // a pipe's keys are read as they come
  // Only the terminal's foreground may read it: a unit started in the background would stop.
  if (tcgetpgrp(STDIN_FILENO) != getpgrp() || tcgetattr(STDIN_FILENO, &savedTerminal) != 0) {
    keyFd_ = -1;
    return;
  }
  termios keys = savedTerminal;
  keys.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  keys.c_cc[VMIN] = 1;
  keys.c_cc[VTIME] = 0;
  terminalSet_ = tcsetattr(STDIN_FILENO, TCSANOW, &keys) == 0;
}

void UnitOutputs::RestoreKeys() {
  if (terminalSet_) tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
  terminalSet_ = false;
}

void UnitOutputs::KeysReady(std::uint64_t now) {
  char keys[64];
  const ssize_t n = read(keyFd_, keys, sizeof keys);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    keyFd_ = -1;  // no more keys will come
    return;
  }
  for (ssize_t k = 0; k < n; ++k) TakeKey(keys[k], now);
}

}  // namespace efisunit
