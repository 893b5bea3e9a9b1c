// One slow-group exchange (30 reads queued, sent to korvan-sim in another process, results
// copied back, as the bridge cycle does at phases 1 and 5) beside its floor: a bare 16-byte
// request and 8-byte reply on a kept SOCK_SEQPACKET connection to floor-exchange-server, which
// walks the same 30 records in a 32 KiB shared area. Interleaved one for one, back to back and
// each after 20 ms
// without one (cold caches).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "simlink/SimLinkClient.h"
#include "tests/bench/bench.h"
#include "tests/bench/sim_records.h"
#include "tests/support/child_process.h"

namespace {

using bench::kSlowGroup;

std::uint8_t Destinations[30][8];

bool SlowExchange() {
  SimResult code = SimOkay;
  for (int i = 0; i < 30; ++i)
    if (!SimLinkRead(kSlowGroup[i].offset, kSlowGroup[i].size, Destinations[i], code)) return false;
  return SimLinkProcess(code);
}

// The floor's client: the records are laid out once; an exchange is the request and the reply.
struct Floor {
  int fd = -1;
  std::uint8_t* area = nullptr;

  bool Open(const std::string& socketPath, const std::string& areaPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      return false;
    const int areaFd = open(areaPath.c_str(), O_RDWR | O_CLOEXEC);
    if (areaFd < 0) return false;
    void* view = mmap(nullptr, 32768, PROT_READ | PROT_WRITE, MAP_SHARED, areaFd, 0);
    close(areaFd);
    if (view == MAP_FAILED) return false;
    area = static_cast<std::uint8_t*>(view);
    std::uint32_t at = 0;
    for (const bench::SimRecord& read : kSlowGroup) {
      const std::uint32_t header[4] = {1, read.offset, read.size, 0};
      std::memcpy(area + at, header, sizeof header);
      at += 16 + read.size;
    }
    std::memset(area + at, 0, 4);
    return true;
  }

  bool Exchange() const {
    const std::uint32_t request[4] = {0xC000, 0xC000, 0, 0};
    std::uint32_t reply[2];
    return send(fd, request, sizeof request, 0) == sizeof request &&
           recv(fd, reply, sizeof reply, 0) == sizeof reply && reply[0] == 1;
  }

  ~Floor() {
    if (area != nullptr) munmap(area, 32768);
    if (fd >= 0) close(fd);
  }
};

using Clock = std::chrono::steady_clock;

// `n` pairs, each product exchange beside one of the floor; `pauseMs` before each.
bool Measure(const Floor& floor, int n, int pauseMs, std::vector<double>& product,
             std::vector<double>& bare) {
  for (int i = 0; i < n; ++i) {
    if (pauseMs > 0) bench::SleepMs(pauseMs);
    auto start = Clock::now();
    if (!SlowExchange()) return false;
    product.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (pauseMs > 0) bench::SleepMs(pauseMs);
    start = Clock::now();
    if (!floor.Exchange()) return false;
    bare.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  return true;
}

void ReportPairs(const char* name, const std::vector<double>& product,
                 const std::vector<double>& bare) {
  const std::string base = std::string("exchange_") + name;
  bench::ReportBeside(base + "_median", bench::Median(product), bench::Median(bare), "us");
  bench::ReportBeside(base + "_p99", bench::Percentile(product, 99), bench::Percentile(bare, 99),
                      "us");
}

bool RunPairs(const bench::Context& context, const std::string& runtime) {
  testsupport::ChildProcess server;
  const std::string socketPath = runtime + "/floor.sock", areaPath = runtime + "/floor.area";
  if (!server.Start(bench::ProgramDir() + "/floor-exchange-server", {socketPath, areaPath}) ||
      !server.WaitForLine("ready", 20000)) {
    std::fprintf(stderr, "korvan-bench: floor-exchange-server did not start\n");
    return false;
  }
  Floor floor;
  if (!floor.Open(socketPath, areaPath)) {
    std::fprintf(stderr, "korvan-bench: cannot reach floor-exchange-server\n");
    return false;
  }
  std::vector<double> product, bare;
  const int n = context.Iterations(2000);
  if (!Measure(floor, 50, 0, product, bare)) return false;  // warm both paths
  product.clear();
  bare.clear();
  if (!Measure(floor, n, 0, product, bare)) return false;
  ReportPairs("back_to_back", product, bare);
  product.clear();
  bare.clear();
  if (!Measure(floor, n / 4 > 0 ? n / 4 : 1, 20, product, bare)) return false;
  ReportPairs("every_20ms", product, bare);
  return true;
}

}  // namespace

KORVAN_BENCH(exchange) {
  const std::string runtime = testsupport::MakeTestRuntimeDir("bench-exchange");
  bool ok = false;
  {
    testsupport::ChildProcess sim;
    if (!sim.Start(bench::ProgramDir() + "/korvan-sim", {}) ||
        !sim.WaitForLine("korvan-sim ready", 20000)) {
      std::fprintf(stderr, "korvan-bench: korvan-sim did not start %s\n", sim.ErrorText().c_str());
    } else {
      SimResult code = SimOkay;
      if (!SimLinkOpen(0, code)) {
        std::fprintf(stderr, "korvan-bench: link: %s\n", SimResultText[code]);
      } else {
        ok = RunPairs(context, runtime);
        if (!ok) std::fprintf(stderr, "korvan-bench: an exchange failed\n");
        SimLinkClose();
      }
      ok = sim.Stop() == 0 && ok;
    }
  }
  testsupport::RemoveTree(runtime);
  return ok;
}
