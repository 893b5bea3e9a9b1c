// The record walk. It runs twice: first to check the whole batch, then to handle it, so a
// batch the client did not write as the protocol says has no effect at all.
#include "standins/sim/sim_exchange.h"

#include <cstdio>

#include "standins/sim/sim_space.h"

namespace sim {

namespace {

std::uint32_t Get32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

struct Walk {
  std::uint8_t* area;
  std::uint32_t areaSize;
  std::uint32_t position = 0;
};

enum class Step { Record, End, Bad };

// Reads the record at walk.position into `record` and checks that it lies inside the area.
Step NextRecord(const Walk& walk, RecordView& record, char* problem, std::size_t room) {
  const std::uint64_t left = walk.areaSize - walk.position;
  if (left == 0) {
    std::snprintf(problem, room, "no terminator before the end of the area (0x%X bytes)",
                  walk.areaSize);
    return Step::Bad;
  }
  const std::uint8_t* at = walk.area + walk.position;
  if (at[0] == 0) return Step::End;
  if (left < 12) {
    std::snprintf(problem, room, "record at 0x%X runs past the area (header cut short)",
                  walk.position);
    return Step::Bad;
  }
  record.position = walk.position;
  record.id = Get32(at);
  record.offset = Get32(at + 4);
  record.size = Get32(at + 8);
  std::uint64_t header;
  if (record.id == kReadRecordId) {
    header = kReadHeaderSize;
  } else if (record.id == kWriteRecordId) {
    header = kWriteHeaderSize;
  } else {
    std::snprintf(problem, room, "record at 0x%X has unknown id %u", walk.position, record.id);
    return Step::Bad;
  }
  if (header + record.size > left) {
    std::snprintf(problem, room, "record at 0x%X runs past the area (id %u, size %u)",
                  walk.position, record.id, record.size);
    return Step::Bad;
  }
  record.data = at + header;
  return Step::Record;
}

std::uint32_t RecordLength(const RecordView& record) {
  return (record.id == kReadRecordId ? kReadHeaderSize : kWriteHeaderSize) + record.size;
}

}  // namespace

ExchangeResult RunExchange(std::uint8_t* area, std::uint32_t areaSize, RecordObserver observer,
                           void* context) {
  ExchangeResult result{};
  RecordView record{};
  Walk check{area, areaSize};
  for (;;) {
    const Step step = NextRecord(check, record, result.problem, sizeof result.problem);
    if (step == Step::Bad) return result;
    if (step == Step::End) break;
    check.position += RecordLength(record);
  }
  result.length = check.position;

  Walk handle{area, areaSize};
  while (handle.position < result.length) {
    // The client can change the area while it is walked: every record is checked again as it
    // is handled, and a batch that changed is refused from there on.
    if (NextRecord(handle, record, result.problem, sizeof result.problem) != Step::Record) {
      if (result.problem[0] == 0)
        std::snprintf(result.problem, sizeof result.problem,
                      "batch changed while it was handled (at 0x%X)", handle.position);
      return result;
    }
    std::uint8_t* data = area + record.position + (RecordLength(record) - record.size);
    if (record.id == kReadRecordId) {
      SpaceRead(record.offset, record.size, data);
      ++result.reads;
    } else {
      SpaceWriteFromClient(record.offset, record.size, data);
      ++result.writes;
    }
    if (observer != nullptr) observer(context, record);
    handle.position += RecordLength(record);
  }
  result.accepted = true;
  return result;
}

}  // namespace sim
