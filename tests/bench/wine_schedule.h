// The schedule of a program under Wine, read from korvan-sim.exe's exchange log.
#pragma once

#include <string>

namespace bench {

// Exchanges a minute, and the intervals of exchanges one tick apart, over the last `spanUs` of
// the log (the Windows steady clock need not count from where Linux's does; the program stopped
// right after the measurement). The log's phases are found from its first slow exchange
// (followed by two fast ones: phase 1; by three: phase 5).
// Reports NAME_exchanges_per_minute and NAME_tick_interval_median, _p99 and _min; false (after
// a line on stderr) when the log holds too few exchanges of the schedule.
bool ReportExchangeSchedule(const std::string& name, const std::string& logPath, long long spanUs);

}  // namespace bench
