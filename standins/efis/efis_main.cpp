// korvan-efis: options and start.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "standins/efis/efis_unit.h"

namespace {

const char kUsage[] =
    "usage: korvan-efis [options]\n"
    "Stands in for the Korvan EFIS on USB: publishes its device interface\n"
    "{0577ABC6-B5F2-4025-8230-AA4F8C0E9E60}, serves the device and its pipes \\PIPE00 (to the\n"
    "bridge) and \\PIPE01 (from the bridge), checks every frame the bridge sends, and\n"
    "prints what the panel shows from them once a second (a line starting \"panel:\").\n"
    "  --unit NAME       unit name (default efis0); the device path is R/usb/NAME\n"
    "  --fail-device     refuse every open of the device\n"
    "  --refuse-read     refuse every open of \\PIPE00\n"
    "  --refuse-write    refuse every open of \\PIPE01\n"
    "  --drop-after N    after N frames drop every connection once (an unplug and re-plug:\n"
    "                    the unit stays present and takes new opens)\n"
    "  --record FILE     append every open, close and frame with a time stamp (ms) to FILE\n"
    "  --verbose         one line per frame, open and close on standard output\n"
    "  --help            this text\n"
    "Stops on SIGINT or SIGTERM, removing everything it published.\n";

bool ParseCount(const char* text, long* value) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < 1) return false;
  *value = v;
  return true;
}

int BadUsage(const char* what, const char* arg) {
  std::fprintf(stderr, "korvan-efis: %s: %s\n%s%s", what, arg, kUsage, efisunit::kOutputUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  efisunit::UnitOptions options;
  std::string badValue;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(arg, "--help") == 0) {
      std::fputs(kUsage, stdout);
      std::fputs(efisunit::kOutputUsage, stdout);
      return 0;
    } else if (std::strcmp(arg, "--unit") == 0 && hasValue) {
      options.unit = argv[++i];
    } else if (std::strcmp(arg, "--fail-device") == 0) {
      options.failDevice = true;
    } else if (std::strcmp(arg, "--refuse-read") == 0) {
      options.refuseRead = true;
    } else if (std::strcmp(arg, "--refuse-write") == 0) {
      options.refuseWrite = true;
    } else if (std::strcmp(arg, "--drop-after") == 0 && hasValue) {
      if (!ParseCount(argv[++i], &options.dropAfter)) {
        return BadUsage("--drop-after needs a count of 1 or more", argv[i]);
      }
    } else if (std::strcmp(arg, "--record") == 0 && hasValue) {
      options.record = argv[++i];
    } else if (std::strcmp(arg, "--verbose") == 0) {
      options.verbose = true;
    } else if (efisunit::ParseOutputOption(argc, argv, &i, &options.outputs, &badValue)) {
      if (!badValue.empty()) return BadUsage(badValue.c_str(), argv[i]);
    } else {
      return BadUsage("unknown option or missing value", arg);
    }
  }
  return efisunit::RunUnit(options);
}
