// Command-line parsing: strict, so a typo in a test's arguments fails loudly instead of
// running a module that does something else.
#include "standins/sim/sim_options.h"

#include <cstdio>
#include <cstring>

#include "standins/sim/sim_rewrite.h"

namespace sim {

const char* const kSimHelpText =
    "Usage: korvan-sim [options]\n"
    "Stand-in for the simulator's data-exchange module: owns its window, answers the\n"
    "\"FsasmLib:IPC\" message and serves a 64 KiB offset space holding a fixed flight state.\n"
    "\n"
    "  --class NAME       window class to own (default UIPCMAIN; FS98MAIN as the old module)\n"
    "  --version HEX      version at offset 0x3304 (default 0x19980005)\n"
    "  --sim-id N         simulator id at offset 0x3308, 0..65535 (default 8, FSX)\n"
    "  --reply N          reply to a handled batch (default 1; anything else is bad data)\n"
    "  --zeros            0x3304 and 0x3308 read as 0 (a module not ready yet)\n"
    "  --never-answer     never reply: every sender waits until its timeout\n"
    "  --delay-ms N       wait N ms (0..600000) before handling each batch\n"
    "  --exit-after N     exit cleanly after N exchanges (N >= 1)\n"
    "  --rewrite MODES    hostile: change the records before replying; MODES is ids, sizes,\n"
    "                     offsets, refs, all, or several joined by ',' or '|'\n"
    "  --rewrite-after N  leave the first N exchanges alone (e.g. 1: an honest handshake)\n"
    "  --record FILE      append one line per record of every batch to FILE:\n"
    "                     \"batch B id I offset 0xOOOO size S[ data HEX]\"\n"
    "  --verbose          one line per exchange on standard output\n"
    "  --help             this text\n"
    "\n"
    "Prints \"korvan-sim ready: ...\" once it serves. SIGINT or SIGTERM (Windows: WM_CLOSE,\n"
    "Ctrl-C) ends it with exit code 0. A bad option ends it with exit code 2.\n";

namespace {

// Digits only, no sign, no overflow past `limit`.
bool ParseUnsigned(const char* text, int base, std::uint64_t limit, std::uint64_t* value) {
  if (base == 16 && (std::strncmp(text, "0x", 2) == 0 || std::strncmp(text, "0X", 2) == 0))
    text += 2;
  if (base == 10 && (std::strncmp(text, "0x", 2) == 0 || std::strncmp(text, "0X", 2) == 0)) {
    text += 2;
    base = 16;
  }
  if (*text == '\0') return false;
  std::uint64_t result = 0;
  for (; *text != '\0'; ++text) {
    int digit;
    if (*text >= '0' && *text <= '9')
      digit = *text - '0';
    else if (base == 16 && *text >= 'a' && *text <= 'f')
      digit = *text - 'a' + 10;
    else if (base == 16 && *text >= 'A' && *text <= 'F')
      digit = *text - 'A' + 10;
    else
      return false;
    result = result * base + digit;
    if (result > limit) return false;
  }
  *value = result;
  return true;
}

}  // namespace

ParseOutcome ParseSimOptions(int argc, const char* const* argv, SimOptions& options, char* error,
                             std::size_t errorSize) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    char name[32];
    const char* value = nullptr;
    const char* equals = std::strchr(arg, '=');
    if (std::strncmp(arg, "--", 2) == 0 && equals != nullptr &&
        static_cast<std::size_t>(equals - arg) < sizeof name) {
      std::memcpy(name, arg, equals - arg);
      name[equals - arg] = '\0';
      value = equals + 1;
    } else {
      std::snprintf(name, sizeof name, "%s", arg);
      if (std::strlen(arg) >= sizeof name) {
        std::snprintf(error, errorSize, "unknown option '%s'", arg);
        return ParseOutcome::Error;
      }
    }
    auto flag = [&](const char* option) {
      return std::strcmp(name, option) == 0 && equals == nullptr;
    };
    auto takesValue = [&](const char* option) {
      if (std::strcmp(name, option) != 0) return false;
      if (value == nullptr && i + 1 < argc) value = argv[++i];
      return true;
    };
    std::uint64_t number = 0;
    if (flag("--help") || flag("-h")) return ParseOutcome::Help;
    if (flag("--zeros")) {
      options.zeros = true;
    } else if (flag("--never-answer")) {
      options.neverAnswer = true;
    } else if (flag("--verbose")) {
      options.verbose = true;
    } else if (takesValue("--class")) {
      if (value == nullptr || *value == '\0' || std::strchr(value, '/') != nullptr) {
        std::snprintf(error, errorSize, "--class needs a window class name without '/'");
        return ParseOutcome::Error;
      }
      options.windowClass = value;
    } else if (takesValue("--version")) {
      if (value == nullptr || !ParseUnsigned(value, 16, 0xFFFFFFFF, &number)) {
        std::snprintf(error, errorSize, "--version needs a hexadecimal 32-bit value, got '%s'",
                      value ? value : "");
        return ParseOutcome::Error;
      }
      options.version = static_cast<std::uint32_t>(number);
    } else if (takesValue("--sim-id")) {
      if (value == nullptr || !ParseUnsigned(value, 10, 0xFFFF, &number)) {
        std::snprintf(error, errorSize, "--sim-id needs a number from 0 to 65535, got '%s'",
                      value ? value : "");
        return ParseOutcome::Error;
      }
      options.simId = static_cast<std::uint16_t>(number);
    } else if (takesValue("--reply")) {
      if (value == nullptr || !ParseUnsigned(value, 10, 0xFFFFFFFF, &number)) {
        std::snprintf(error, errorSize, "--reply needs an unsigned 32-bit number, got '%s'",
                      value ? value : "");
        return ParseOutcome::Error;
      }
      options.reply = static_cast<std::uint32_t>(number);
    } else if (takesValue("--delay-ms")) {
      if (value == nullptr || !ParseUnsigned(value, 10, 600000, &number)) {
        std::snprintf(error, errorSize, "--delay-ms needs a number from 0 to 600000, got '%s'",
                      value ? value : "");
        return ParseOutcome::Error;
      }
      options.delayMs = static_cast<std::uint32_t>(number);
    } else if (takesValue("--exit-after")) {
      if (value == nullptr || !ParseUnsigned(value, 10, 0xFFFFFFFF, &number) || number == 0) {
        std::snprintf(error, errorSize, "--exit-after needs a number of exchanges >= 1, got '%s'",
                      value ? value : "");
        return ParseOutcome::Error;
      }
      options.exitAfter = static_cast<std::uint32_t>(number);
    } else if (takesValue("--rewrite")) {
      if (value == nullptr || !ParseRewriteModes(value, &options.rewrite)) {
        std::snprintf(error, errorSize,
                      "--rewrite needs ids, sizes, offsets, refs or all (joined by ',' or '|'), "
                      "got '%s'",
                      value ? value : "");
        return ParseOutcome::Error;
      }
    } else if (takesValue("--rewrite-after")) {
      if (value == nullptr || !ParseUnsigned(value, 10, 0xFFFFFFFF, &number)) {
        std::snprintf(error, errorSize, "--rewrite-after needs a number of exchanges, got '%s'",
                      value ? value : "");
        return ParseOutcome::Error;
      }
      options.rewriteAfter = static_cast<std::uint32_t>(number);
    } else if (takesValue("--record")) {
      if (value == nullptr || *value == '\0') {
        std::snprintf(error, errorSize, "--record needs a file name");
        return ParseOutcome::Error;
      }
      options.recordPath = value;
    } else {
      std::snprintf(error, errorSize, "unknown option '%s'", arg);
      return ParseOutcome::Error;
    }
  }
  return ParseOutcome::Run;
}

}  // namespace sim
