#include "standins/sim/sim_record.h"

#include <cstdio>

namespace sim {

namespace {

std::FILE* Log = nullptr;
std::uint32_t Batch = 0;

}  // namespace

bool OpenRecordLog(const char* path) {
  Log = std::fopen(path, "a");
  return Log != nullptr;
}

void CloseRecordLog() {
  if (Log != nullptr) std::fclose(Log);
  Log = nullptr;
}

void BeginRecordBatch(std::uint32_t batch) {
  Batch = batch;
}

void RecordLine(void*, const RecordView& record) {
  if (Log == nullptr) return;
  std::fprintf(Log, "batch %u id %u offset 0x%04X size %u", Batch, record.id, record.offset,
               record.size);
  if (record.id == kWriteRecordId) {
    std::fputs(" data ", Log);
    for (std::uint32_t i = 0; i < record.size; ++i) std::fprintf(Log, "%02X", record.data[i]);
  }
  std::fputc('\n', Log);
}

void RecordRefusal(const char* problem) {
  if (Log != nullptr) std::fprintf(Log, "batch %u refused: %s\n", Batch, problem);
}

void EndRecordBatch() {
  if (Log != nullptr) std::fflush(Log);
}

}  // namespace sim
