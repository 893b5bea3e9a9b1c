// A stand-in EFIS unit of the Windows tests: message-mode named pipes for the device and its two
// pipes, under a name of their own (the device path the bridge opens).
#pragma once

#include <windows.h>

#include <string>

class EfisPipes {
 public:
  // `tag` starts the pipe's name; the process id and a count make it unique.
  explicit EfisPipes(const char* tag) {
    static int count = 0;
    base = std::string("\\\\.\\pipe\\") + tag + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++count);
    device = Make(base, PIPE_ACCESS_DUPLEX);
    toBridge = Make(base + "\\PIPE00", PIPE_ACCESS_OUTBOUND);
    fromBridge = Make(base + "\\PIPE01", PIPE_ACCESS_INBOUND);
  }
  ~EfisPipes() {
    for (HANDLE h : {device, toBridge, fromBridge}) {
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
  }
  EfisPipes(const EfisPipes&) = delete;
  EfisPipes& operator=(const EfisPipes&) = delete;

  bool Made() const {
    return device != INVALID_HANDLE_VALUE && toBridge != INVALID_HANDLE_VALUE &&
           fromBridge != INVALID_HANDLE_VALUE;
  }

  std::string base;
  HANDLE device;      // the device itself
  HANDLE toBridge;    // PIPE00: the unit writes, the bridge reads
  HANDLE fromBridge;  // PIPE01: the bridge writes

 private:
  static HANDLE Make(const std::string& name, DWORD direction) {
    return CreateNamedPipeA(name.c_str(), direction,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0,
                            nullptr);
  }
};
