// korvan-sim's command line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standins/sim/sim_flight.h"
#include "standins/sim/sim_space.h"

namespace sim {

struct SimOptions {
  const char* windowClass = "UIPCMAIN";
  std::uint32_t version = kDefaultVersion;
  std::uint16_t simId = kDefaultSimId;
  std::uint32_t reply = 1;
  bool zeros = false;             // the handshake values read as 0
  bool neverAnswer = false;       // hold every sender until it gives up
  std::uint32_t silentAfter = 0;  // > 0: answer that many exchanges, then none
  std::uint32_t delayMs = 0;
  std::uint32_t exitAfter = 0;     // 0: run until stopped
  unsigned rewrite = 0;            // RewriteMode bits
  std::uint32_t rewriteAfter = 0;  // exchanges left alone before the rewrites start
  const char* recordPath = nullptr;
  const char* exchangeLogPath = nullptr;  // one line per exchange: when, reads, writes
  std::uint32_t stepBankMs = 0;           // 0: the bank of the fixed state stays
  bool verbose = false;
  bool fly = false;  // the flight model instead of the fixed state
  // Doubles that are no numbers: every double read serves these in turn, one episode each,
  // with a clean episode before each (poisonEpisode exchanges long).
  double poison[8] = {};
  std::uint32_t poisonCount = 0;
  std::uint32_t poisonEpisode = 40;
  FlightStart flight;
};

enum class ParseOutcome { Run, Help, Error };

// Fills `options` from argv[1..]. Options take their value as the next argument or after '='
// (--class=FS98MAIN). On Error, `error` holds one line saying what was wrong.
ParseOutcome ParseSimOptions(int argc, const char* const* argv, SimOptions& options, char* error,
                             std::size_t errorSize);

// The --help text.
extern const char* const kSimHelpText;

}  // namespace sim
