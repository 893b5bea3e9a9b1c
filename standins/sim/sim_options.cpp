// Command-line parsing: strict, so a typo in a test's arguments fails loudly instead of
// running a module that does something else. Numeric options come from one table.
#include "standins/sim/sim_options.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "standins/common/number_option.h"
#include "standins/sim/sim_rewrite.h"

namespace sim {

const char* const kSimHelpText =
    "Usage: korvan-sim [options]\n"
    "Stand-in for the simulator's data-exchange module: owns its window, answers the\n"
    "\"FsasmLib:IPC\" message and serves a 64 KiB offset space holding a fixed flight state,\n"
    "or with --fly a light twin in flight.\n"
    "\n"
    "  --class NAME       window class to own (default UIPCMAIN; FS98MAIN as the old module)\n"
    "  --version HEX      version at offset 0x3304 (default 0x19980005)\n"
    "  --sim-id N         simulator id at offset 0x3308, 0..65535 (default 8, FSX)\n"
    "  --reply N          reply to a handled batch (default 1; anything else is bad data)\n"
    "  --zeros            0x3304 and 0x3308 read as 0 (a module not ready yet)\n"
    "  --never-answer     never reply: every sender waits until its timeout\n"
    "  --silent-after N   answer the first N exchanges, then never again (a module that hangs)\n"
    "  --delay-ms N       wait N ms (0..600000) before handling each batch\n"
    "  --exit-after N     exit cleanly after N exchanges (N >= 1)\n"
    "  --rewrite MODES    hostile: change the records before replying; MODES is ids, sizes,\n"
    "                     offsets, refs, all, or several joined by ',' or '|'\n"
    "  --rewrite-after N  leave the first N exchanges alone (e.g. 1: an honest handshake)\n"
    "  --record FILE      append one line per record of every batch to FILE:\n"
    "                     \"batch B id I offset 0xOOOO size S[ data HEX]\"\n"
    "  --verbose          one line per exchange on standard output\n"
    "  --exchange-log FILE  one line per exchange to FILE: \"MICROS READS WRITES\", MICROS\n"
    "                     the steady clock (Linux: CLOCK_MONOTONIC) when it arrived; for\n"
    "                     measuring the client's schedule\n"
    "  --step-bank MS     the fixed state's bank steps every MS ms (1, 2, ... 20 degrees,\n"
    "                     then 1 again) from its start, which a line \"bank steps every MS ms\n"
    "                     from MICROS us\" tells; for measuring how fast a change travels\n"
    "  --poison-doubles LIST  every double the module serves reads as the values of LIST in\n"
    "                     turn (nan, inf, -inf, or a number; joined by ','), one episode each,\n"
    "                     with a clean episode before each; a line says when each begins\n"
    "  --poison-episode N exchanges per episode (default 40)\n"
    "\n"
    "  --fly              fly: a flight model integrated at 50 Hz from the first exchange on.\n"
    "                     A built-in pilot flies and its inputs read at 0x0BB6 (aileron) and\n"
    "                     0x0BB2 (elevator); while a client keeps 3 at 0x310A (written again\n"
    "                     within 10 s), the values it writes there fly instead. One line\n"
    "                     \"flight t=... bank=...\" a second on standard output.\n"
    "  --pilot MODE       tour (default): gentle turns and climbs; hold: keeps the start bank\n"
    "                     and altitude\n"
    "  --bank DEG         start bank, -60..60, right wing down positive (default 0)\n"
    "  --heading DEG      start magnetic heading, 0..360 (default 90)\n"
    "  --altitude FT      start altitude, 500..15000 (default 3000)\n"
    "  --airspeed KT      start indicated airspeed, 60..150 (default 100)\n"
    "  --qnh HPA          the simulator's altimeter setting, 900..1100 (default 1013.2)\n"
    "  --qnh-at S:HPA     change it to HPA S seconds into the flight\n"
    "  --qnh-every S      every S seconds step it by 1 hPa, up and down in turn\n"
    "  --help             this text\n"
    "\n"
    "Prints \"korvan-sim ready: ...\" once it serves. SIGINT or SIGTERM (Windows: WM_CLOSE,\n"
    "Ctrl-C) ends it with exit code 0. A bad option ends it with exit code 2.\n";

namespace {

using standins::NumberKind;
using Numeric = standins::NumberOption<SimOptions>;

const Numeric kNumericOptions[] = {
    {"--version", NumberKind::Hex, 0, 0xFFFFFFFF, "a hexadecimal 32-bit value",
     [](SimOptions& o, double v) { o.version = static_cast<std::uint32_t>(v); }},
    {"--sim-id", NumberKind::Decimal, 0, 0xFFFF, "a number from 0 to 65535",
     [](SimOptions& o, double v) { o.simId = static_cast<std::uint16_t>(v); }},
    {"--reply", NumberKind::Decimal, 0, 0xFFFFFFFF, "an unsigned 32-bit number",
     [](SimOptions& o, double v) { o.reply = static_cast<std::uint32_t>(v); }},
    {"--delay-ms", NumberKind::Decimal, 0, 600000, "a number from 0 to 600000",
     [](SimOptions& o, double v) { o.delayMs = static_cast<std::uint32_t>(v); }},
    {"--exit-after", NumberKind::Decimal, 1, 0xFFFFFFFF, "a number of exchanges >= 1",
     [](SimOptions& o, double v) { o.exitAfter = static_cast<std::uint32_t>(v); }},
    {"--step-bank", NumberKind::Decimal, 1, 3600000, "a period of 1 to 3600000 ms",
     [](SimOptions& o, double v) { o.stepBankMs = static_cast<std::uint32_t>(v); }},
    {"--rewrite-after", NumberKind::Decimal, 0, 0xFFFFFFFF, "a number of exchanges",
     [](SimOptions& o, double v) { o.rewriteAfter = static_cast<std::uint32_t>(v); }},
    {"--silent-after", NumberKind::Decimal, 1, 0xFFFFFFFF, "a number of exchanges >= 1",
     [](SimOptions& o, double v) { o.silentAfter = static_cast<std::uint32_t>(v); }},
    {"--poison-episode", NumberKind::Decimal, 1, 100000, "a number of exchanges from 1 to 100000",
     [](SimOptions& o, double v) { o.poisonEpisode = static_cast<std::uint32_t>(v); }},
    {"--qnh-every", NumberKind::Real, 1, 86400, "seconds from 1 to 86400",
     [](SimOptions& o, double v) { o.flight.qnhEveryS = v; }},
    {"--bank", NumberKind::Real, -60, 60, "degrees from -60 to 60",
     [](SimOptions& o, double v) { o.flight.bankDeg = v; }},
    {"--heading", NumberKind::Real, 0, 360, "degrees from 0 to 360",
     [](SimOptions& o, double v) { o.flight.headingDeg = v; }},
    {"--altitude", NumberKind::Real, 500, 15000, "feet from 500 to 15000",
     [](SimOptions& o, double v) { o.flight.altitudeFt = v; }},
    {"--airspeed", NumberKind::Real, 60, 150, "knots from 60 to 150",
     [](SimOptions& o, double v) { o.flight.airspeedKt = v; }},
    {"--qnh", NumberKind::Real, 900, 1100, "hPa from 900 to 1100",
     [](SimOptions& o, double v) { o.flight.qnhHpa = v; }},
};

// "S:HPA": seconds into the flight, then the new setting.
bool ParseQnhChange(const char* value, FlightStart& flight) {
  const char* colon = std::strchr(value, ':');
  char seconds[32];
  if (colon == nullptr || static_cast<std::size_t>(colon - value) >= sizeof seconds) return false;
  std::memcpy(seconds, value, colon - value);
  seconds[colon - value] = '\0';
  double at, hpa;
  if (!standins::ParseNumber(seconds, NumberKind::Real, 0, 86400, &at) ||
      !standins::ParseNumber(colon + 1, NumberKind::Real, 900, 1100, &hpa))
    return false;
  flight.qnhChangeAtS = at;
  flight.qnhChangeHpa = hpa;
  return true;
}

// "nan,inf,-inf,1e300": at most 8 values.
bool ParsePoison(const char* value, SimOptions& options) {
  options.poisonCount = 0;
  const char* at = value;
  for (;;) {
    const char* end = std::strchr(at, ',');
    const std::size_t length =
        end != nullptr ? static_cast<std::size_t>(end - at) : std::strlen(at);
    char word[32];
    if (length == 0 || length >= sizeof word || options.poisonCount == 8) return false;
    std::memcpy(word, at, length);
    word[length] = '\0';
    double number;
    if (std::strcmp(word, "nan") == 0) {
      number = std::numeric_limits<double>::quiet_NaN();
    } else if (std::strcmp(word, "inf") == 0) {
      number = std::numeric_limits<double>::infinity();
    } else if (std::strcmp(word, "-inf") == 0) {
      number = -std::numeric_limits<double>::infinity();
    } else {
      // A number as C writes it, exponent and all (1e300: beyond every integer field).
      char* end = nullptr;
      number = std::strtod(word, &end);
      if (end == word || *end != '\0' || !std::isfinite(number)) return false;
    }
    options.poison[options.poisonCount++] = number;
    if (end == nullptr) return true;
    at = end + 1;
  }
}

// Options that take a word: each says what it needs when the word does not parse.
struct TextOption {
  const char* name;
  const char* needs;
  bool (*store)(const char* value, SimOptions& options);
};

bool NonEmpty(const char* value) {
  return *value != '\0';
}

const TextOption kTextOptions[] = {
    {"--class", "a window class name without '/'",
     [](const char* v, SimOptions& o) {
       o.windowClass = v;
       return NonEmpty(v) && std::strchr(v, '/') == nullptr;
     }},
    {"--rewrite", "ids, sizes, offsets, refs or all (joined by ',' or '|')",
     [](const char* v, SimOptions& o) { return ParseRewriteModes(v, &o.rewrite); }},
    {"--poison-doubles", "up to 8 of nan, inf, -inf or a number, joined by ','", ParsePoison},
    {"--record", "a file name",
     [](const char* v, SimOptions& o) {
       o.recordPath = v;
       return NonEmpty(v);
     }},
    {"--exchange-log", "a file name",
     [](const char* v, SimOptions& o) {
       o.exchangeLogPath = v;
       return NonEmpty(v);
     }},
    {"--pilot", "tour or hold",
     [](const char* v, SimOptions& o) {
       const bool tour = std::strcmp(v, "tour") == 0;
       if (!tour && std::strcmp(v, "hold") != 0) return false;
       o.flight.pilot = tour ? PilotMode::Tour : PilotMode::Hold;
       return true;
     }},
    {"--qnh-at", "SECONDS:HPA (HPA from 900 to 1100)",
     [](const char* v, SimOptions& o) { return ParseQnhChange(v, o.flight); }},
};

// Options that stand alone.
struct FlagOption {
  const char* name;
  bool SimOptions::*flag;
};

const FlagOption kFlagOptions[] = {
    {"--zeros", &SimOptions::zeros},
    {"--never-answer", &SimOptions::neverAnswer},
    {"--verbose", &SimOptions::verbose},
    {"--fly", &SimOptions::fly},
};

template <typename Option, std::size_t N>
const Option* FindOption(const Option (&options)[N], const char* name) {
  for (const Option& option : options) {
    if (std::strcmp(option.name, name) == 0) return &option;
  }
  return nullptr;
}

// "--name=value" into its name and value; a bare argument is all name (value stays null).
// False for a name too long to be one of ours.
bool SplitOption(const char* arg, char (&name)[32], const char** value) {
  const char* equals = std::strncmp(arg, "--", 2) == 0 ? std::strchr(arg, '=') : nullptr;
  const std::size_t length = equals != nullptr ? equals - arg : std::strlen(arg);
  if (length >= sizeof name) return false;
  std::memcpy(name, arg, length);
  name[length] = '\0';
  if (equals != nullptr) *value = equals + 1;
  return true;
}

ParseOutcome Unknown(const char* arg, char* error, std::size_t errorSize) {
  std::snprintf(error, errorSize, "unknown option '%s'", arg);
  return ParseOutcome::Error;
}

}  // namespace

ParseOutcome ParseSimOptions(int argc, const char* const* argv, SimOptions& options, char* error,
                             std::size_t errorSize) {
  for (int i = 1; i < argc; ++i) {
    char name[32];
    const char* value = nullptr;
    if (!SplitOption(argv[i], name, &value)) return Unknown(argv[i], error, errorSize);
    if (value == nullptr && (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0))
      return ParseOutcome::Help;
    const FlagOption* flag = FindOption(kFlagOptions, name);
    if (flag != nullptr && value == nullptr) {
      options.*(flag->flag) = true;
      continue;
    }
    const Numeric* numeric = standins::FindNumberOption(kNumericOptions, name);
    const TextOption* text = FindOption(kTextOptions, name);
    if (numeric == nullptr && text == nullptr) return Unknown(argv[i], error, errorSize);
    if (value == nullptr && i + 1 < argc) value = argv[++i];
    const bool stored = numeric != nullptr ? standins::StoreNumberOption(*numeric, value, options)
                                           : value != nullptr && text->store(value, options);
    if (!stored) {
      std::snprintf(error, errorSize, "%s needs %s, got '%s'", name,
                    numeric != nullptr ? numeric->needs : text->needs, value ? value : "");
      return ParseOutcome::Error;
    }
  }
  return ParseOutcome::Run;
}

}  // namespace sim
