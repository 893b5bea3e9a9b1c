// TMyThread: the reader's start, kill and body.
#include <stdexcept>
#include <string>

#include "efis/EfisLink.h"
#include "efis/EfisReader.h"
#include "platform/thread.h"

namespace {

const platform::ThreadStart kReaderStart = {TMyThread::Execute, nullptr};

}  // namespace

void TMyThread::Start() {
  EfisPrepareReaderWait();  // the reader only reads the event; it is made here, before it runs
  handle_ = platform::StartThread(&kReaderStart);
  if (handle_ == 0) {
    const std::uint32_t error = platform::LastError();
    throw std::runtime_error("EFIS reader: cannot start its thread: " + platform::ErrorText(error) +
                             " (error " + std::to_string(error) + ")");
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
