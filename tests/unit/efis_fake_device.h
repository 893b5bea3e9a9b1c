// An in-process stand-in for platform/device.h and CloseKernelHandle that records every call in
// order, so the EFIS link's sequence of calls can be checked exactly.
#pragma once

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

namespace fakedevice {

struct Config {
  bool noSet = false;                  // the interface set cannot be opened
  std::vector<std::string> paths;      // the interfaces present, in enumeration order
  int detailFailsAt = -1;              // index whose filling detail call fails
  std::set<std::string> refusedOpens;  // paths whose open fails
  int writeFailsAt = -1;               // the n-th write (from 0) fails
  // What the reads deliver, one entry per read; a read with none left fails (device gone).
  struct Read {
    bool ok;
    std::vector<std::uint8_t> bytes;
  };
  std::deque<Read> reads;
};

extern Config config;
// The manual-reset events of platform/thread.h: "create 400", "set 400", "reset 400",
// "wait 400", in order, apart from the device's calls. A wait returns waitResult at once.
extern std::vector<std::string> eventCalls;
extern bool waitResult;
// "set 0x12", "enum 0", "size 0", "fill 0 <size>", "free", "open <path> <access> <share>
// <creation> <flags>", "read <handle> <size>", "write <handle> <size>", "flush <handle>",
// "close <handle>", and "pause <ms>" for PauseThread of platform/thread.h.
extern std::vector<std::string> calls;
extern std::vector<std::vector<std::uint8_t>> written;  // every frame written, whole
extern int writes;
extern std::uint32_t lastError;  // what the fake last reported as failed
void FakeError(std::uint32_t code);

void Reset();
// Only the calls that start with `prefix`.
std::vector<std::string> CallsStartingWith(const std::string& prefix);

}  // namespace fakedevice
