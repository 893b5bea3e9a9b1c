// What both child-process backends keep the same way: whether the child runs, the lines it
// printed on each stream, and the helper threads. One mutex guards all of it and `changed`
// signals every change. Each backend's ChildProcess::Impl derives from ChildState and adds the
// native process; child_process_common.cpp answers the queries from this part alone.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"

namespace testsupport {

struct ChildState {
  mutable std::mutex mutex;
  std::condition_variable changed;
  bool started = false;
  bool exited = false;
  int exitCode = -1;
  bool eof[2] = {false, false};
  std::vector<std::string> lines[2];
  std::string error;
  std::thread readers[2];
  std::thread waiter;

  // A reader thread got `size` bytes of stream `index`; `partial` is its unfinished line.
  // Takes the mutex.
  void AddOutput(int index, std::string& partial, const char* data, std::size_t size);
  // Stream `index` has ended: an unfinished last line still counts. Takes the mutex.
  void EndOutput(int index, std::string& partial);

  bool Finished() const { return exited && eof[0] && eof[1]; }

  void Join();
};

// The shared part of the backend's Impl.
ChildState& StateOf(ChildProcess::Impl& impl);

}  // namespace testsupport
