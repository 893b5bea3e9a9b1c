// The handles a process holds, counted by the name of their object type ("Thread", "File",
// "Event", ...), for the Windows tests' leak checks. Wine's own wait handle of a synchronous
// read has a type without a name (""): a thread killed while it waits in its read leaves that
// one behind, which Windows, having no such handle, does not. So the checks compare the named
// types, and report the unnamed ones.
#pragma once

#include <windows.h>
// windows.h first.
#include <winternl.h>

#include <map>
#include <string>
#include <vector>

using HandleTypes = std::map<std::wstring, int>;

namespace winehandles {

// SYSTEM_HANDLE_INFORMATION of NtQuerySystemInformation, class 16.
struct SystemHandleEntry {
  USHORT ProcessId;
  USHORT CreatorBackTraceIndex;
  UCHAR ObjectType;
  UCHAR Attributes;
  USHORT Value;
  PVOID Object;
  ULONG GrantedAccess;
};
struct SystemHandles {
  ULONG Count;
  SystemHandleEntry Entries[1];
};

inline std::wstring TypeOf(HANDLE handle) {
  alignas(8) char info[1024];
  ULONG size = 0;
  if (NtQueryObject(handle, ObjectTypeInformation, info, sizeof info, &size) != 0) {
    return L"(unknown)";
  }
  const auto* type = reinterpret_cast<const PUBLIC_OBJECT_TYPE_INFORMATION*>(info);
  return std::wstring(type->TypeName.Buffer, type->TypeName.Length / sizeof(wchar_t));
}

}  // namespace winehandles

// The handles of the process `pid`: this process's when `process` is null, another's through a
// duplicate of each (`process` opened with PROCESS_DUP_HANDLE).
inline HandleTypes HandlesByType(DWORD pid, HANDLE process = nullptr) {
  std::vector<char> buffer(1 << 20);
  ULONG length = 0;
  NTSTATUS status;
  while ((status = NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(16),
                                            buffer.data(), static_cast<ULONG>(buffer.size()),
                                            &length)) == static_cast<NTSTATUS>(0xC0000004L)) {
    buffer.resize(buffer.size() * 2);  // STATUS_INFO_LENGTH_MISMATCH
  }
  HandleTypes types;
  if (status != 0) return types;
  const auto* handles = reinterpret_cast<const winehandles::SystemHandles*>(buffer.data());
  for (ULONG i = 0; i < handles->Count; ++i) {
    const winehandles::SystemHandleEntry& entry = handles->Entries[i];
    if (entry.ProcessId != static_cast<USHORT>(pid)) continue;
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(entry.Value));
    if (process == nullptr) {
      ++types[winehandles::TypeOf(handle)];
      continue;
    }
    HANDLE copy = nullptr;
    if (!DuplicateHandle(process, handle, GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
      ++types[L"(not duplicated)"];
      continue;
    }
    ++types[winehandles::TypeOf(copy)];
    CloseHandle(copy);
  }
  return types;
}

// Those of a named type.
inline HandleTypes Named(HandleTypes types) {
  types.erase(L"");
  return types;
}
