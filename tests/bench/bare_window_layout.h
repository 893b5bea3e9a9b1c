/* The bridge's window, for the floors' windows on GTK and Win32: its labels and where each
 * stands (client-area pixels at 96 per inch: left, top, width, height). */
#pragma once

typedef struct {
  const char* text;
  int left, top, width, height;
} BareLabel;

enum { kBareLabels = 9, kBareAutopilotLabel = 3 };

static const BareLabel kBareLabel[kBareLabels] = {
    {"Version 1.1 released 29/October/2010", 24, 360, 183, 13},
    {"Bank servo (Trio Varex port 1)", 328, 288, 150, 13},
    {"Pitch servo (Trio Varex port 2)", 472, 336, 89, 41},
    {"Autopilot not engaged", 352, 312, 104, 13},
    {"Left", 336, 224, 18, 13},
    {"Right", 446, 224, 25, 13},
    {"Up", 536, 192, 14, 13},
    {"Down", 536, 312, 28, 13},
    {"100% of active servo range corresponds to 50% of control surface range", 336, 336, 137, 41},
};
