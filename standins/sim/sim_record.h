// The --record log: one line per record of every batch, flushed per batch so a test can read
// it while the module runs.
#pragma once

#include <cstdint>

#include "standins/sim/sim_exchange.h"

namespace sim {

// Opens `path` for appending. False when it cannot be opened.
bool OpenRecordLog(const char* path);
void CloseRecordLog();

// The batch number the next lines carry.
void BeginRecordBatch(std::uint32_t batch);
// A RecordObserver: "batch B id I offset 0xOOOO size S" and, for writes, " data HEX".
void RecordLine(void* context, const RecordView& record);
// "batch B refused: PROBLEM".
void RecordRefusal(const char* problem);
void EndRecordBatch();

}  // namespace sim
