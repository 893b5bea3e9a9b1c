// Fuzz target of the simulator link's copy-back walk: SimLinkProcess against a fake module that
// writes the fuzz input into the shared area and replies 1. Built on the link's own file
// (simlink/SimLinkClient.cpp) over the in-process platform of tests/unit/fake_ipc.cpp.
//
// Input: byte 0 picks the batch (its reads and writes, their sizes, which reads have a
// destination); byte 1 how the rest goes into the area: over the batch as it is (even), or
// XORed onto it (odd: a few set bits are a few changed bits of the batch). Every destination
// sits between guard bytes. Checked beyond the sanitizers: the guards never change; the exchange
// succeeds exactly when every record's id, size and reference stand as queued (its offset may
// change), and then each destination holds its record's data from the area; otherwise it fails
// with code 13 and every destination is as it was.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "simlink/SimLinkClient.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/unit/fake_ipc.h"

namespace {

constexpr std::size_t kGuard = 16;
constexpr std::uint8_t kGuardByte = 0xA5;
constexpr std::uint8_t kUntouched = 0x5A;

struct Planned {
  bool read;
  std::uint32_t offset;
  std::uint32_t size;
  bool destination;
  std::vector<std::uint8_t> memory;  // guard, destination, guard (reads with a destination)
};

using fuzzsupport::Check;
using fuzzsupport::Get32;

// The batch of selector `s`: up to 24 records, most of a few bytes, some of a few hundred, some
// empty, some reads without a destination. The same selector always makes the same batch.
std::vector<Planned> Plan(std::uint8_t s) {
  std::uint32_t state = s * 2654435761u + 12345;
  auto next = [&state] {
    state = state * 1103515245u + 12345;
    return state >> 16;
  };
  std::vector<Planned> plan(s % 25);
  for (Planned& record : plan) {
    record.read = next() % 3 != 0;
    record.offset = next() % 0x10000;
    const std::uint32_t kind = next() % 8;
    record.size = kind == 0 ? 0 : kind == 1 ? 100 + next() % 200 : 1 + next() % 8;
    record.destination = record.read && next() % 5 != 0;
  }
  return plan;
}

void OpenOnce() {
  static bool open = false;
  if (open) return;
  fake_ipc::Reset();
  static fake_ipc::Module module;
  module.Set32(0x3304, 0x19980005);
  module.Set32(0x3308, 0xFADE0008);
  fake_ipc::Get().server = [](std::uint8_t* area, std::uintptr_t* reply) {
    return module.Serve(area, reply);
  };
  SimResult code;
  Check(SimLinkOpen(0, code), "the link does not open");
  open = true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  OpenOnce();
  fake_ipc::State& state = fake_ipc::Get();
  state.calls.clear();
  state.exchanges.clear();

  std::vector<Planned> plan = Plan(data[0]);
  SimResult code;
  const std::uint8_t source[300] = {1, 2, 3};
  for (Planned& record : plan) {
    if (!record.read) {
      Check(SimLinkWrite(record.offset, record.size, source, code), "a write was refused");
      continue;
    }
    void* destination = nullptr;
    if (record.destination) {
      record.memory.assign(kGuard + record.size + kGuard, kGuardByte);
      std::memset(record.memory.data() + kGuard, kUntouched, record.size);
      destination = record.memory.data() + kGuard;
    }
    Check(SimLinkRead(record.offset, record.size, destination, code), "a read was refused");
  }

  const bool xorOnto = data[1] % 2 != 0;
  state.server = [&](std::uint8_t* area, std::uintptr_t* reply) {
    const std::size_t n = size - 2 < 0x8000 ? size - 2 : 0x8000;
    for (std::size_t i = 0; i < n; ++i) area[i] = xorOnto ? area[i] ^ data[2 + i] : data[2 + i];
    *reply = 1;
    return true;
  };
  const bool answered = SimLinkProcess(code);

  if (plan.empty()) {
    Check(!answered && code == SimNoRequests, "an empty batch was sent");
    return 0;
  }
  // What the module had to leave alone, from this batch's own layout: id 1 or 2, the size, and
  // for a read the reference (its record's index + 1 when it has a destination, else 0).
  bool intact = true;
  std::uint32_t position = 0;
  for (std::size_t i = 0; i < plan.size(); ++i) {
    const std::uint8_t* at = state.area + position;
    const std::uint32_t reference = plan[i].destination ? static_cast<std::uint32_t>(i + 1) : 0;
    intact = intact && Get32(at) == (plan[i].read ? 1u : 2u) && Get32(at + 8) == plan[i].size &&
             (!plan[i].read || Get32(at + 12) == reference);
    position += (plan[i].read ? 16 : 12) + plan[i].size;
  }
  Check(answered == intact, answered ? "a changed batch was accepted" : "an intact batch failed");
  Check(answered ? code == SimOkay : code == SimBadData, "unexpected code");

  position = 0;
  for (const Planned& record : plan) {
    if (record.destination) {
      const std::uint8_t* memory = record.memory.data();
      for (std::size_t i = 0; i < kGuard; ++i) {
        Check(memory[i] == kGuardByte, "a guard byte before a destination changed");
        Check(memory[kGuard + record.size + i] == kGuardByte, "a guard byte after one changed");
      }
      for (std::uint32_t i = 0; i < record.size; ++i) {
        const std::uint8_t expected = answered ? state.area[position + 16 + i] : kUntouched;
        Check(memory[kGuard + i] == expected, "a destination does not hold what it should");
      }
    }
    position += (record.read ? 16 : 12) + record.size;
  }
  return 0;
}
