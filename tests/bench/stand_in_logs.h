// What the stand-ins wrote down, read back for the measurements: korvan-sim's exchange log
// ("MICROS READS WRITES" lines, --exchange-log) and korvan-efis's record ("MS frame TYPE SIZE
// HEX" lines among others, --record), both on the steady clock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// The exchanges logged from `fromUs` to `toUs`, a minute's worth: 0 with fewer than two.
double ExchangesPerMinute(const std::string& logPath, std::int64_t fromUs, std::int64_t toUs);

// The frames recorded from `fromUs` to `toUs`, a minute's worth.
double FramesPerMinute(const std::string& recordPath, std::int64_t fromUs, std::int64_t toUs);

// Each attitude frame (type 11) of a record: when, and its bank field (tenths of a degree,
// bytes 4 and 5).
struct Attitude {
  std::int64_t ms;
  int bankTenths;
};
std::vector<Attitude> ReadAttitudes(const std::string& recordPath);

}  // namespace bench
