// korvan-efis: options and start.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "standins/common/number_option.h"
#include "standins/efis/efis_panel.h"
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
    "  --record-sent     record the frames it sends too (\"MS sent TYPE SIZE HEX\")\n"
    "  --verbose         one line per frame, open and close on standard output\n"
    "  --help            this text\n"
    "The panel and the autopilot:\n"
    "  --panel WHAT      window (GTK, on Linux), text (a compact panel on standard output),\n"
    "                    both as window,text, or none. Default: for a person at a terminal the\n"
    "                    window when there is a display, else the text panel; otherwise none\n"
    "  --panel-every S   the text panel every S seconds (default 2)\n"
    "  --engage-after S  engage the autopilot S seconds after the bridge opens \\PIPE00\n"
    "  --heading-bug DEG with it, hold heading DEG instead of levelling the wings\n"
    "  --replay FILE     no device: show the frames of a --record FILE, print the panel, and\n"
    "                    with --panel window keep the window open until it is closed\n"
    "Stops on SIGINT or SIGTERM, removing everything it published; or when its panel window\n"
    "is closed.\n";

using standins::NumberKind;
using UnitNumber = standins::NumberOption<efisunit::UnitOptions>;

const UnitNumber kUnitNumbers[] = {
    {"--drop-after", NumberKind::Decimal, 1, 2147483647, "a count of 1 or more",
     [](efisunit::UnitOptions& o, double v) { o.dropAfter = static_cast<long>(v); }},
    {"--panel-every", NumberKind::Real, 0.1, 3600, "0.1 to 3600 seconds",
     [](efisunit::UnitOptions& o, double v) { o.panelEveryS = v; }},
    {"--engage-after", NumberKind::Real, 0, 86400, "0 to 86400 seconds",
     [](efisunit::UnitOptions& o, double v) { o.engageAfterS = v; }},
    {"--heading-bug", NumberKind::Real, 0, 360, "a heading of 0 to 360 degrees",
     [](efisunit::UnitOptions& o, double v) { o.headingBug = v; }},
};

int BadUsage(const char* what, const char* arg) {
  std::fprintf(stderr, "korvan-efis: %s: %s\n%s%s", what, arg, kUsage, efisunit::kOutputUsage);
  return 2;
}

// "window", "text", "window,text", "text,window", "none".
bool ParsePanel(const char* text, efisunit::UnitOptions& options) {
  const std::string what = text;
  options.windowPanel = what == "window" || what == "window,text" || what == "text,window";
  options.textPanel = what == "text" || what == "window,text" || what == "text,window";
  options.panelOptional = false;
  if (options.windowPanel && !efisunit::kUnitHasPanelWindow) return false;
  return options.windowPanel || options.textPanel || what == "none";
}

void DefaultPanel(efisunit::UnitOptions& options) {
  const bool person = isatty(STDOUT_FILENO) != 0;
  const char* display = std::getenv("DISPLAY");
  const bool hasDisplay = display != nullptr && *display != '\0';
  options.windowPanel = person && hasDisplay && efisunit::kUnitHasPanelWindow;
  options.panelOptional = true;
  options.textPanel = person && !options.windowPanel;
}

}  // namespace

int main(int argc, char** argv) {
  efisunit::UnitOptions options;
  DefaultPanel(options);
  std::string badValue;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(arg, "--help") == 0) {
      std::fputs(kUsage, stdout);
      std::fputs(efisunit::kOutputUsage, stdout);
      std::printf("%s\n", efisunit::kPanelKeysHelp);
      return 0;
    } else if (const UnitNumber* number = standins::FindNumberOption(kUnitNumbers, arg)) {
      if (!hasValue || !standins::StoreNumberOption(*number, argv[++i], options)) {
        return BadUsage((std::string(number->name) + " needs " + number->needs).c_str(),
                        hasValue ? argv[i] : arg);
      }
    } else if (std::strcmp(arg, "--unit") == 0 && hasValue) {
      options.unit = argv[++i];
    } else if (std::strcmp(arg, "--fail-device") == 0) {
      options.failDevice = true;
    } else if (std::strcmp(arg, "--refuse-read") == 0) {
      options.refuseRead = true;
    } else if (std::strcmp(arg, "--refuse-write") == 0) {
      options.refuseWrite = true;
    } else if (std::strcmp(arg, "--record") == 0 && hasValue) {
      options.record = argv[++i];
    } else if (std::strcmp(arg, "--record-sent") == 0) {
      options.recordSent = true;
    } else if (std::strcmp(arg, "--verbose") == 0) {
      options.verbose = true;
    } else if (std::strcmp(arg, "--panel") == 0 && hasValue) {
      if (!ParsePanel(argv[++i], options)) {
        return BadUsage(efisunit::kUnitHasPanelWindow
                            ? "--panel needs window, text, window,text or none"
                            : "--panel needs text or none (no window here)",
                        argv[i]);
      }
    } else if (std::strcmp(arg, "--replay") == 0 && hasValue) {
      options.replay = argv[++i];
    } else if (efisunit::ParseOutputOption(argc, argv, &i, &options.outputs, &badValue)) {
      if (!badValue.empty()) return BadUsage(badValue.c_str(), argv[i]);
    } else {
      return BadUsage("unknown option or missing value", arg);
    }
  }
  return efisunit::RunUnit(options);
}
