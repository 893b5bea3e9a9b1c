// bridge-ticks SECONDS: korvan-bridge as it ships (app/main.cpp: the GTK window, the same start)
// with each tick of its frame timer timed on its way into the cycle. After SECONDS it closes the
// window, releases the link and prints one line "tick MICROS MILLIS" per tick: the steady clock,
// and the reading of the frame timer's own millisecond clock (platform/clock.h) that the tick
// was decided on, for korvan-bench's schedule.
#include <glib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/LogFile.h"
#include "app/Unit1.h"
#include "efis/FrameMath.h"
#include "platform/clock.h"
#include "platform/toolkit.h"
#include "simlink/SimLinkClient.h"
#include "timer/FrameTimer.h"

namespace {

struct Tick {
  long long micros;
  std::uint32_t millis;
};
std::vector<Tick> Ticks;

// The timer reads its clock once before it fires a tick: the handler sees that reading here.
std::uint32_t LastReading = 0;

std::uint32_t ReadingClock() {
  LastReading = platform::TimeGetTime();
  return LastReading;
}

gboolean Finish(gpointer) {
  Application->Terminate();
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 0;
  if (seconds <= 0) {
    std::fprintf(stderr, "usage: bridge-ticks SECONDS\n");
    return 2;
  }
  Ticks.reserve(static_cast<std::size_t>(seconds) * 25 + 100);
  SetExtendedPrecision();
  LogFileOpen();
  SetFrameTimerClock(ReadingClock);
  Application->Initialize();
  Application->Title = "Korvan EFIS to Flightsim bridge";
  Form1 = new TForm1(Application);
  Application->CreateForm(Form1, [](TForm& form) { static_cast<TForm1&>(form).CreateDesign(); });
  Form1->FrameTimer1->OnTimer = [](TObject* sender, std::int32_t lag) {
    const long long micros = std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    Ticks.push_back({micros, LastReading});
    Form1->FrameTimer1Timer(sender, lag);
  };
  g_timeout_add_seconds(static_cast<guint>(seconds), Finish, nullptr);
  Application->Run();
  SimLinkClose();
  LogFileExit();
  for (const Tick& tick : Ticks) std::printf("tick %lld %u\n", tick.micros, tick.millis);
  return 0;
}
