// An in-process stand-in for the operating system's IPC calls, for the link's unit tests: it
// records every call and plays a module whose answers each test sets.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fake_ipc {

struct Exchange {
  std::vector<std::uint8_t> batch;  // the area up to and including the terminator
  std::uint32_t msg;
  std::uint32_t wParam;
  std::uint32_t lParam;
  std::uint32_t timeoutMs;
};

// Answers one exchange: may read and change the area; returns false for a send that fails.
using Server = std::function<bool(std::uint8_t* area, std::uintptr_t* reply)>;

struct State {
  // What the platform offers.
  bool uipcWindow = true;
  bool fs98Window = false;
  std::uint32_t processId = 0x2C;
  bool registerFails = false;
  bool atomFails = false;
  bool mappingFails = false;
  bool mappingExists = false;
  bool viewFails = false;
  bool areaCut = false;  // the area was cut short under its view (SharedAreaIntact false)
  std::uint32_t lastErrorAfterFailedSend = 1460;
  Server server;

  // What the link did.
  std::vector<std::string> calls;  // "find UIPCMAIN", "atom+ NAME", "sleep 10", ...
  std::vector<Exchange> exchanges;
  int liveAtoms = 0, liveMappings = 0, liveViews = 0;
  std::string atomName, mappingName;
  std::uint8_t area[0x8000];
};

State& Get();
void Reset();

// A well-behaved module over a 64 KiB offset space: fills reads, applies writes, replies 1.
struct Module {
  std::uint8_t space[0x10000] = {};
  std::uintptr_t reply = 1;
  void Set32(std::uint32_t offset, std::uint32_t value);
  std::uint32_t Get32(std::uint32_t offset) const;
  bool Serve(std::uint8_t* area, std::uintptr_t* replyOut);
};

// The one mapping handle the fake gives out, and its close. CloseKernelHandle comes from
// tests/unit/fake_ipc_close.cpp, or from another fake that owns the other handles of a program.
constexpr std::uintptr_t kMappingHandle = 0x77;
void MappingClosed(std::uintptr_t handle);

// The sleeps the link made, in order.
std::vector<std::uint32_t> Sleeps();

}  // namespace fake_ipc
