#include "tests/unit/fake_ipc.h"

#include <cstring>
#include <string>

#include "platform/ipc.h"

namespace fake_ipc {

namespace {
State* TheState = nullptr;
thread_local std::uint32_t TheLastError = 0;
constexpr platform::WindowHandle kUipcWindow = 0x100;
constexpr platform::WindowHandle kFs98Window = 0x200;
constexpr std::uint16_t kAtom = 0xC123;
constexpr platform::Handle kMapping = kMappingHandle;

std::uint32_t Read32(const std::uint8_t* at) {
  std::uint32_t value;
  std::memcpy(&value, at, 4);
  return value;
}
}  // namespace

State& Get() {
  if (TheState == nullptr) TheState = new State();
  return *TheState;
}

void Reset() {
  delete TheState;
  TheState = new State();
  TheLastError = 0;
}

void MappingClosed(platform::Handle handle) {
  Get().calls.push_back("close");
  if (handle == kMapping) --Get().liveMappings;
}

std::vector<std::uint32_t> Sleeps() {
  std::vector<std::uint32_t> sleeps;
  for (const std::string& call : Get().calls)
    if (call.rfind("sleep ", 0) == 0) sleeps.push_back(std::stoul(call.substr(6)));
  return sleeps;
}

void Module::Set32(std::uint32_t offset, std::uint32_t value) {
  std::memcpy(space + offset, &value, 4);
}

std::uint32_t Module::Get32(std::uint32_t offset) const {
  std::uint32_t value;
  std::memcpy(&value, space + offset, 4);
  return value;
}

bool Module::Serve(std::uint8_t* area, std::uintptr_t* replyOut) {
  std::uint32_t pos = 0;
  while (pos + 4 <= 0x8000 && area[pos] != 0) {
    const std::uint32_t id = Read32(area + pos);
    const std::uint32_t offset = Read32(area + pos + 4) & 0xFFFF;
    const std::uint32_t size = Read32(area + pos + 8);
    const std::uint32_t header = id == 1 ? 16 : 12;
    if ((id != 1 && id != 2) || pos + header + size > 0x8000 || offset + size > 0x10000) break;
    if (id == 1)
      std::memcpy(area + pos + 16, space + offset, size);
    else if (offset != 0x330A)  // the client's handshake word; the mark there stays
      std::memcpy(space + offset, area + pos + 12, size);
    pos += header + size;
  }
  *replyOut = reply;
  return true;
}

}  // namespace fake_ipc

using fake_ipc::Get;

namespace platform {

WindowHandle FindTopLevelWindow(const char* className) {
  const std::string name = className;
  Get().calls.push_back("find " + name);
  if (name == "UIPCMAIN" && Get().uipcWindow) return fake_ipc::kUipcWindow;
  if (name == "FS98MAIN" && Get().fs98Window) return fake_ipc::kFs98Window;
  return 0;
}

std::uint32_t RegisterMessageName(const char* name) {
  Get().calls.push_back(std::string("register ") + name);
  return Get().registerFails ? 0 : 0xC0DE;
}

std::uint16_t AddGlobalAtom(const char* name) {
  Get().calls.push_back(std::string("atom+ ") + name);
  Get().atomName = name;
  if (Get().atomFails) return 0;
  ++Get().liveAtoms;
  return fake_ipc::kAtom;
}

void DeleteGlobalAtom(std::uint16_t atom) {
  Get().calls.push_back("atom-");
  if (atom == fake_ipc::kAtom) --Get().liveAtoms;
}

std::uint32_t GetGlobalAtomName(std::uint16_t, char*, std::uint32_t) {
  return 0;
}

Handle CreateSharedArea(const char* name, std::uint32_t size) {
  Get().calls.push_back(std::string("mapping+ ") + name + " " + std::to_string(size));
  Get().mappingName = name;
  if (Get().mappingFails) {
    fake_ipc::TheLastError = 5;
    return 0;
  }
  ++Get().liveMappings;
  fake_ipc::TheLastError = Get().mappingExists ? kErrorAlreadyExists : 0;
  return fake_ipc::kMapping;
}

Handle OpenSharedArea(const char*) {
  return 0;
}

void* MapSharedArea(Handle mapping) {
  Get().calls.push_back("map");
  if (Get().viewFails || mapping != fake_ipc::kMapping) return nullptr;
  ++Get().liveViews;
  std::memset(Get().area, 0xEE, sizeof Get().area);  // never assume a zeroed area
  return Get().area;
}

std::uint32_t SharedAreaSize(const void*) {
  return 0x8000;
}

bool SharedAreaIntact(const void* view) {
  return view == Get().area && !Get().areaCut;
}

bool UnmapSharedArea(void* view) {
  Get().calls.push_back("unmap");
  if (view == Get().area) --Get().liveViews;
  return true;
}

bool SendMessageWithTimeout(WindowHandle, std::uint32_t msg, std::uint32_t wParam,
                            std::uint32_t lParam, std::uint32_t timeoutMs, std::uintptr_t* reply) {
  fake_ipc::State& state = Get();
  state.calls.push_back("send");
  fake_ipc::Exchange exchange{{}, msg, wParam, lParam, timeoutMs};
  std::uint32_t end = 0;  // keep what the client laid out, through the terminator
  while (end + 4 <= 0x8000 && fake_ipc::Read32(state.area + end) != 0) {
    const std::uint32_t id = fake_ipc::Read32(state.area + end);
    end += (id == 1 ? 16 : 12) + fake_ipc::Read32(state.area + end + 8);
  }
  exchange.batch.assign(state.area, state.area + end + 4);
  state.exchanges.push_back(exchange);
  if (!state.server || !state.server(state.area, reply)) {
    fake_ipc::TheLastError = state.lastErrorAfterFailedSend;
    return false;
  }
  return true;
}

std::uint32_t LastError() {
  return fake_ipc::TheLastError;
}
void SetLastError(std::uint32_t code) {
  fake_ipc::TheLastError = code;
}
std::string ErrorText(std::uint32_t code) {
  return "text of error " + std::to_string(code);
}
void SleepMs(std::uint32_t milliseconds) {
  Get().calls.push_back("sleep " + std::to_string(milliseconds));
}
std::uint32_t CurrentProcessId() {
  return Get().processId;
}

}  // namespace platform
