// The stand-ins' lines on standard output: each goes out at once, since tests and scripts wait
// for them.
#pragma once

namespace standins {

// printf's `format` and arguments, then a newline; flushed.
void Say(const char* format, ...);

}  // namespace standins
