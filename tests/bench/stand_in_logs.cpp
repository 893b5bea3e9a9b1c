// Reading the stand-ins' logs back (stand_in_logs.h).
#include "tests/bench/stand_in_logs.h"

#include <fstream>
#include <sstream>

namespace bench {

double ExchangesPerMinute(const std::string& logPath, std::int64_t fromUs, std::int64_t toUs) {
  std::ifstream in(logPath);
  long long us, first = -1, last = -1;
  unsigned reads, writes;
  long count = 0;
  while (in >> us >> reads >> writes) {
    if (us < fromUs || us > toUs) continue;
    if (first < 0) first = us;
    last = us;
    ++count;
  }
  return count < 2 ? 0 : (count - 1) * 60e6 / static_cast<double>(last - first);
}

double FramesPerMinute(const std::string& recordPath, std::int64_t fromUs, std::int64_t toUs) {
  std::ifstream in(recordPath);
  std::string line;
  long count = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    long long ms;
    std::string what;
    if (fields >> ms >> what && what == "frame" && ms * 1000 >= fromUs && ms * 1000 < toUs) ++count;
  }
  return toUs > fromUs ? count * 60e6 / static_cast<double>(toUs - fromUs) : 0;
}

std::vector<Attitude> ReadAttitudes(const std::string& recordPath) {
  std::vector<Attitude> frames;
  std::ifstream in(recordPath);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    long long ms;
    std::string what, hex;
    int type, size;
    if (!(fields >> ms >> what >> type >> size >> hex) || what != "frame" || type != 11 ||
        hex.size() < 12)
      continue;
    const int low = std::stoi(hex.substr(8, 2), nullptr, 16);
    const int high = std::stoi(hex.substr(10, 2), nullptr, 16);
    frames.push_back({ms, static_cast<std::int16_t>(low | high << 8)});
  }
  return frames;
}

}  // namespace bench
