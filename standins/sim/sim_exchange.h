// One exchange as the module does it: walk the request records of the client's shared area,
// fill the reads from the offset space (sim_space.h) and apply the writes. Works on a plain byte
// buffer, so tests and fuzzers drive it without any IPC.
#pragma once

#include <cstdint>

namespace sim {

inline constexpr std::uint32_t kReadRecordId = 1;
inline constexpr std::uint32_t kWriteRecordId = 2;
inline constexpr std::uint32_t kReadHeaderSize = 16;
inline constexpr std::uint32_t kWriteHeaderSize = 12;

// One record as it was handled. `data` points into the area: the value just read, or the bytes
// that were written.
struct RecordView {
  std::uint32_t position;  // of the record in the area
  std::uint32_t id;
  std::uint32_t offset;
  std::uint32_t size;
  const std::uint8_t* data;
};

// Called once per handled record, in area order.
using RecordObserver = void (*)(void* context, const RecordView& record);

struct ExchangeResult {
  bool accepted;        // the batch was well formed and has been handled
  std::uint32_t reads;  // records handled
  std::uint32_t writes;
  std::uint32_t length;  // bytes of records before the terminator
  char problem[112];     // why it was refused, one line without its end; "" when accepted
};

// Walks `area` (of `areaSize` bytes) from its start. A batch is refused as a whole, before
// anything is read or written, when a record runs past the area, has an id other than 1 or 2,
// or no terminator (a record whose first byte is 0) follows the last record. Ids, offsets,
// sizes and destination references are left as they are; only read data changes. Never reads
// or writes outside the area or the offset space. `observer` may be null.
ExchangeResult RunExchange(std::uint8_t* area, std::uint32_t areaSize, RecordObserver observer,
                           void* context);

}  // namespace sim
