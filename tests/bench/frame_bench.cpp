// One frame written to korvan-efis's write pipe through the platform layer (WriteDeviceFile), and
// one write with its flush (FlushDeviceFile), beside a bare send() of the same frame on a
// SOCK_SEQPACKET connection to floor-frame-sink. Interleaved, 1 ms apart so that neither
// receiver ever falls behind.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/posix/posix_root.h"
#include "tests/bench/bench.h"
#include "tests/support/child_process.h"

namespace {

using Clock = std::chrono::steady_clock;

// An attitude frame: header (32 bytes of payload, 0, 1, type 11), then its payload.
std::uint8_t Frame[36] = {32, 0, 1, 11};

double Micros(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

int ConnectSink(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

bool Measure(platform::Handle pipe, int sink, int n) {
  std::vector<double> write, flushed, bare;
  for (int i = 0; i < n; ++i) {
    std::uint32_t done = 0;
    bench::SleepMs(1);
    auto start = Clock::now();
    if (!platform::WriteDeviceFile(pipe, Frame, sizeof Frame, &done)) return false;
    write.push_back(Micros(start));
    bench::SleepMs(1);
    start = Clock::now();
    if (!platform::WriteDeviceFile(pipe, Frame, sizeof Frame, &done) ||
        !platform::FlushDeviceFile(pipe))
      return false;
    flushed.push_back(Micros(start));
    bench::SleepMs(1);
    start = Clock::now();
    if (send(sink, Frame, sizeof Frame, MSG_NOSIGNAL) != sizeof Frame) return false;
    bare.push_back(Micros(start));
  }
  bench::ReportBeside("frame_write_median", bench::Median(write), bench::Median(bare), "us");
  bench::ReportBeside("frame_write_p99", bench::Percentile(write, 99), bench::Percentile(bare, 99),
                      "us");
  bench::ReportBeside("frame_write_flush_median", bench::Median(flushed), bench::Median(bare),
                      "us");
  bench::ReportBeside("frame_write_flush_p99", bench::Percentile(flushed, 99),
                      bench::Percentile(bare, 99), "us");
  return true;
}

}  // namespace

KORVAN_BENCH(frame) {
  const std::string runtime = testsupport::MakeTestRuntimeDir("bench-frame");
  bool ok = false;
  {
    testsupport::ChildProcess efis, sink;
    const std::string sinkPath = runtime + "/sink.sock";
    if (!efis.Start(bench::ProgramDir() + "/korvan-efis",
                    {"--panel", "none", "--servo-rate", "0"}) ||
        !efis.WaitForLine("korvan-efis ready", 20000) ||
        !sink.Start(bench::ProgramDir() + "/floor-frame-sink", {sinkPath}) ||
        !sink.WaitForLine("ready", 20000)) {
      std::fprintf(stderr, "korvan-bench: korvan-efis or floor-frame-sink did not start\n");
    } else {
      const std::string pipePath = platform::posix::NamespaceDir("usb") + "/efis0\\PIPE01";
      const platform::Handle pipe = platform::OpenDeviceFile(
          pipePath.c_str(), platform::kGenericWrite, 0, platform::kOpenExisting, 0);
      const int fd = ConnectSink(sinkPath);
      if (pipe == platform::kInvalidHandle || fd < 0) {
        std::fprintf(stderr, "korvan-bench: cannot open the write pipe or the sink\n");
      } else {
        ok = Measure(pipe, fd, context.Iterations(2000));
        if (!ok) std::fprintf(stderr, "korvan-bench: a frame write failed\n");
      }
      if (pipe != platform::kInvalidHandle) platform::CloseKernelHandle(pipe);
      if (fd >= 0) close(fd);
    }
  }
  testsupport::RemoveTree(runtime);
  return ok;
}
