// TMyThread: the reader's start, kill and body.
#include <stdexcept>
#include <string>

#include "efis/EfisReader.h"
#include "platform/thread.h"

namespace {

const platform::ThreadStart kReaderStart = {TMyThread::Execute, nullptr};

}  // namespace

void TMyThread::Start() {
  handle_ = platform::StartThread(&kReaderStart);
  if (handle_ == 0) {
    throw std::runtime_error("Cannot start the EFIS reader thread (error " +
                             std::to_string(platform::LastError()) + ")");
  }
}

void TMyThread::Kill() {
  if (handle_ == 0) return;
  platform::KillThread(handle_);
  handle_ = 0;
}

void TMyThread::Execute(void*) {
  // On this thread's stack: a killed reader finishing its last frame never shares it.
  std::uint8_t input[kEfisInputSize];
  do PollEfisInput(input);
  while (!platform::ThreadKilled());
}
