// Which faults of the bridge cycle are shown to the user. A fault that persists (a bad value
// the simulator keeps sending) must not bury the window under one error box per tick: a text is
// shown once, and again only after a tick of the same kind has run without a fault. Fast and
// slow ticks are remembered apart, since a bad slow value leaves the fast ticks between clean.
// User-interface thread (the bridge cycle).
#pragma once

#include <cstdint>

enum class TTickKind : std::uint8_t { Fast, Slow };

// True when `text`, raised by a tick of `kind`, is to be shown; remembers it.
bool TickFaultToShow(TTickKind kind, const char* text);
// A tick of `kind` ran without a fault: its next fault is shown whatever its text.
void TickRanClean(TTickKind kind);
// Forgets every remembered fault.
void ResetTickFaults();
