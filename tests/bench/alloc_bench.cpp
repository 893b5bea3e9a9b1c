// Heap allocations of the bridge cycle in steady state: 10,000 ticks (--iterations) with
// korvan-sim and korvan-efis in other processes, through every kind of tick: fast and slow,
// autopilot engaged and not, a QNH from the EFIS written to the simulator and one from the
// simulator sent to the EFIS. Counted on this thread only, in malloc, calloc and realloc (which
// operator new calls), or in sanitizer builds, whose allocator is their own, in operator new
// alone. The floor is 0.
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "efis/EfisLink.h"
#include "efis/SharedState.h"
#include "tests/bench/bench.h"
#include "tests/support/bridge_form.h"
#include "tests/support/child_process.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define COUNT_OPERATOR_NEW 1
#else
#define COUNT_OPERATOR_NEW 0
#endif

namespace {
thread_local bool Counting = false;
thread_local long Allocations = 0;
}  // namespace

void* operator new(std::size_t size) {
  if (COUNT_OPERATOR_NEW && Counting) ++Allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (COUNT_OPERATOR_NEW && Counting) ++Allocations;
  return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

#if !COUNT_OPERATOR_NEW
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* malloc(std::size_t size) {
  if (Counting) ++Allocations;
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  if (Counting) ++Allocations;
  return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
  if (Counting) ++Allocations;
  return __libc_realloc(p, size);
}
}
#endif

namespace {

void Tick() {
  Form1->FrameTimer1Timer(Form1->FrameTimer1, 1);
}

// Tick `i` of the measured run: engagement comes and goes every 500 ticks, a QNH from the EFIS
// every 500 ticks and one from the simulator in between (the held setting differs from what
// the next slow exchange reads).
void Steer(int i) {
  if (i % 500 == 0) {
    AutopilotEngaged = 1;
    DisengageCountdown = 20;  // disengages by the countdown after 20 fast ticks
    BankServoCmd = static_cast<std::int16_t>(i % 4000 - 2000);
  }
  if (i % 500 == 100) {
    HeldQnh = static_cast<std::uint16_t>(16211 + i % 7);
    QnhFromEfis = 1;
  }
  if (i % 500 == 350) HeldQnh = static_cast<std::uint16_t>(16000 + i % 5);
}

}  // namespace

KORVAN_BENCH(alloc) {
  const std::string runtime = testsupport::MakeTestRuntimeDir("bench-alloc");
  testsupport::ChildProcess sim, efis;
  if (!sim.Start(bench::ProgramDir() + "/korvan-sim", {}) ||
      !sim.WaitForLine("korvan-sim ready", 20000) ||
      !efis.Start(bench::ProgramDir() + "/korvan-efis", {"--panel", "none", "--servo-rate", "0"}) ||
      !efis.WaitForLine("korvan-efis ready", 20000)) {
    std::fprintf(stderr, "korvan-bench: the stand-ins did not start\n");
    return false;
  }
  // The count itself first: one string too long for its own buffer is one allocation.
  Counting = true;
  { const std::string proof(64, 'x'); }
  Counting = false;
  if (Allocations != 1) {
    std::fprintf(stderr, "korvan-bench: the allocation count does not work (%ld)\n", Allocations);
    return false;
  }
  Allocations = 0;
  testsupport::OpenBridgeForm();
  bool ok = SimConnected && EfisLink.EfisConnected;
  const int ticks = context.Iterations(10000);
  if (ok) {
    for (int i = 0; i < 1000; ++i) {  // every path once before counting
      Steer(i);
      Tick();
    }
    Counting = true;
    for (int i = 0; i < ticks; ++i) {
      Steer(i);
      Tick();
    }
    Counting = false;
    ok = SimConnected && EfisLink.EfisConnected;
  }
  if (!ok) std::fprintf(stderr, "korvan-bench: a link failed\n");
  testsupport::CloseBridgeForm();
  efis.Stop();
  sim.Stop();
  testsupport::RemoveTree(runtime);
  if (!ok) return false;
  bench::Report("alloc_per_tick", static_cast<double>(Allocations) / ticks, "allocations");
  bench::Report("alloc_per_tick_floor", 0, "allocations");
  bench::Report("alloc_ticks", ticks, "ticks");
  return true;
}
