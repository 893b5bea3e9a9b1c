// CloseKernelHandle for a program whose only handles are fake_ipc's.
#include "platform/ipc.h"
#include "tests/unit/fake_ipc.h"

namespace platform {

bool CloseKernelHandle(Handle handle) {
  fake_ipc::MappingClosed(handle);
  return true;
}

}  // namespace platform
