#include "standins/efis/efis_replay.h"

#include <cstdlib>
#include <cstring>

namespace efisunit {

namespace {

int Nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// An unsigned decimal word at *text, then one space.
bool Word(const char** text, unsigned long long* value) {
  char* end = nullptr;
  if (**text < '0' || **text > '9') return false;
  *value = std::strtoull(*text, &end, 10);
  if (*end != ' ') return false;
  *text = end + 1;
  return true;
}

}  // namespace

bool ParseRecordedFrame(const char* line, ReplayFrame& frame) {
  unsigned long long ms, type, size;
  if (!Word(&line, &ms) || std::strncmp(line, "frame ", 6) != 0) return false;
  line += 6;
  if (!Word(&line, &type) || !Word(&line, &size) || size < 4 || size > kReplayMaxFrame)
    return false;
  for (std::size_t i = 0; i < size; ++i) {
    const int high = Nibble(line[2 * i]);
    const int low = high < 0 ? -1 : Nibble(line[2 * i + 1]);
    if (low < 0) return false;
    frame.bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  const char rest = line[2 * size];
  if (rest != '\0' && rest != '\n' && rest != '\r') return false;
  if (frame.bytes[3] != type) return false;
  frame.ms = ms;
  frame.size = size;
  return true;
}

}  // namespace efisunit
