#include "app/TickFaults.h"

#include <cstring>

namespace {

// Texts are compared on their first bytes only; a fault text longer than this that differs
// only after them counts as the same fault.
constexpr std::size_t kFaultTextRoom = 256;

struct TRememberedFault {
  bool Held;
  char Text[kFaultTextRoom];
};

TRememberedFault LastFault[2];

TRememberedFault& FaultOf(TTickKind kind) {
  return LastFault[static_cast<int>(kind)];
}

}  // namespace

bool TickFaultToShow(TTickKind kind, const char* text) {
  TRememberedFault& last = FaultOf(kind);
  if (last.Held && std::strncmp(last.Text, text, kFaultTextRoom - 1) == 0) return false;
  last.Held = true;
  std::strncpy(last.Text, text, kFaultTextRoom - 1);
  last.Text[kFaultTextRoom - 1] = '\0';
  return true;
}

void TickRanClean(TTickKind kind) {
  FaultOf(kind).Held = false;
}

void ResetTickFaults() {
  TickRanClean(TTickKind::Fast);
  TickRanClean(TTickKind::Slow);
}
