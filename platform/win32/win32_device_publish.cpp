// A served device made findable as the unit's driver makes it: a root device of the class
// through SetupAPI, its interface marked linked in the registry (DIGCF_PRESENT lists only such
// interfaces), and an NT symbolic link from the device's part of the interface's path to the
// named-pipe root. The interface's reference string is the name of the device's pipe, so the
// path (\\?\root#korvan#<unit>#{class}\korvan-usb-<unit>) opens that pipe, and the path and
// "\PIPE00" the unit's PIPE00. (A link to the device's pipe itself would do on Windows, but Wine
// looks the rest of a path up inside the pipe it found.)
#include <winternl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win32/win32_device_server.h"

// ntdll's; MinGW's headers do not declare them.
extern "C" NTSTATUS NTAPI NtCreateSymbolicLinkObject(PHANDLE link, ACCESS_MASK access,
                                                     POBJECT_ATTRIBUTES attributes,
                                                     PUNICODE_STRING target);
extern "C" NTSTATUS NTAPI NtOpenSymbolicLinkObject(PHANDLE link, ACCESS_MASK access,
                                                   POBJECT_ATTRIBUTES attributes);

namespace platform::win32 {

namespace {

constexpr char kInstancePrefix[] = "ROOT\\KORVAN\\";
constexpr char kPublishTurn[] = "korvan-usb-publish";         // a mutex of the session
constexpr ACCESS_MASK kSymbolicLinkAllAccess = 0xF0001;       // SYMBOLIC_LINK_ALL_ACCESS
constexpr ACCESS_MASK kSymbolicLinkQuery = 0x0001;            // SYMBOLIC_LINK_QUERY
constexpr wchar_t kNamedPipeRoot[] = L"\\Device\\NamedPipe";  // \\.\pipe to the object manager

const GUID* ClassOf(const DeviceServer& s) {
  return reinterpret_cast<const GUID*>(&s.setup.interfaceClass);
}

std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

// The device's part of an interface path (\\?\x\reference gives x) and its reference.
std::string DevicePart(const std::string& path) {
  const std::size_t reference = path.find('\\', 4);
  return path.substr(4, reference == std::string::npos ? std::string::npos : reference - 4);
}
std::string ReferencePart(const std::string& path) {
  const std::size_t reference = path.find('\\', 4);
  return reference == std::string::npos ? "" : path.substr(reference + 1);
}

// The object manager's name of the link of an interface path: \??\x.
std::wstring LinkName(const std::string& path) {
  return L"\\??\\" + Wide(DevicePart(path));
}

UNICODE_STRING Counted(std::wstring& text) {
  const auto bytes = static_cast<USHORT>(text.size() * sizeof(wchar_t));
  return UNICODE_STRING{bytes, bytes, text.data()};
}

// A link that still exists: the unit that made it is alive.
bool Linked(const std::string& path) {
  std::wstring name = LinkName(path);
  UNICODE_STRING counted = Counted(name);
  OBJECT_ATTRIBUTES attributes;
  // The link itself, not what it leads to.
  InitializeObjectAttributes(&attributes, &counted, OBJ_CASE_INSENSITIVE | OBJ_OPENLINK, nullptr,
                             nullptr);
  HANDLE link = nullptr;
  if (NtOpenSymbolicLinkObject(&link, kSymbolicLinkQuery, &attributes) != 0) return false;
  CloseHandle(link);
  return true;
}

// The path of an interface, and into `device` the device it belongs to; "" when it cannot be
// read. `device` may be null; a `face` null means the device's first interface of the class.
std::string InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& face, SP_DEVINFO_DATA* device) {
  union {
    SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
    char bytes[1024];
  } detail{};
  detail.detail.cbSize = sizeof detail.detail;
  if (!SetupDiGetDeviceInterfaceDetailA(set, &face, &detail.detail, sizeof detail, nullptr, device))
    return "";
  return detail.detail.DevicePath;
}

bool OurDevice(HDEVINFO set, SP_DEVINFO_DATA& device) {
  char id[200] = {};  // MAX_DEVICE_ID_LEN
  return SetupDiGetDeviceInstanceIdA(set, &device, id, sizeof id, nullptr) &&
         std::strncmp(id, kInstancePrefix, sizeof kInstancePrefix - 1) == 0;
}

// The device entries of the class's interfaces, present or not, left by units that were
// killed: their links went with them.
void RemoveStaleDevices(const DeviceServer& s) {
  HDEVINFO set = SetupDiGetClassDevsA(ClassOf(s), nullptr, nullptr, DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVICE_INTERFACE_DATA face{};
  face.cbSize = sizeof face;
  DWORD count = 0;
  while (SetupDiEnumDeviceInterfaces(set, nullptr, ClassOf(s), count, &face)) ++count;
  // From the last: a removal may take its element out of the set.
  for (DWORD i = count; i-- > 0;) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, ClassOf(s), i, &face)) continue;
    const std::string path = InterfacePath(set, face, &device);
    if (!path.empty() && OurDevice(set, device) && !Linked(path)) SetupDiRemoveDevice(set, &device);
  }
  SetupDiDestroyDeviceInfoList(set);
}

// ROOT\KORVAN\<the unit's name, upper case, with '_' for what an instance name may not hold>.
std::string InstanceId(const std::string& unit) {
  std::string id = kInstancePrefix;
  for (char c : unit) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '.';
    id += kept ? static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c) : '_';
  }
  return id;
}

bool CreateDevice(DeviceServer& s, char* why, std::size_t whySize) {
  Publication& p = s.published;
  p.set = SetupDiCreateDeviceInfoList(ClassOf(s), nullptr);
  if (p.set == INVALID_HANDLE_VALUE)
    return Fail(why, whySize, "SetupAPI", "SetupDiCreateDeviceInfoList", GetLastError());
  p.device.cbSize = sizeof p.device;
  const std::string id = InstanceId(s.unit);
  if (!SetupDiCreateDeviceInfoA(p.set, id.c_str(), ClassOf(s), s.description.c_str(), nullptr, 0,
                                &p.device)) {
    p.device.cbSize = 0;  // not ours: a live unit's of a name like this one's
    return Fail(why, whySize, "SetupAPI", "SetupDiCreateDeviceInfoA " + id, GetLastError());
  }
  if (!SetupDiRegisterDeviceInfo(p.set, &p.device, 0, nullptr, nullptr, nullptr)) {
    const DWORD code = GetLastError();
    SetupDiDeleteDeviceInfo(p.set, &p.device);
    p.device.cbSize = 0;
    return Fail(why, whySize, "SetupAPI", "SetupDiRegisterDeviceInfo", code);
  }
  return true;
}

bool CreateInterface(DeviceServer& s, char* why, std::size_t whySize) {
  Publication& p = s.published;
  SP_DEVICE_INTERFACE_DATA face{};
  face.cbSize = sizeof face;
  const std::string reference = s.channels[0].name.substr(9);  // past \\.\pipe\.
  if (!SetupDiCreateDeviceInterfaceA(p.set, &p.device, ClassOf(s), reference.c_str(), 0, &face))
    return Fail(why, whySize, "SetupAPI", "SetupDiCreateDeviceInterfaceA", GetLastError());
  s.path = InterfacePath(p.set, face, nullptr);
  if (s.path.rfind("\\\\?\\", 0) != 0) {
    return Fail(why, whySize, "SetupAPI",
                "the interface's path \"" + s.path + "\" does not start with \\\\?\\",
                ERROR_BAD_PATHNAME);
  }
  return true;
}

// HKLM\...\DeviceClasses\{class}\##?#<path's tail>\#\Control, value Linked = 1.
bool MarkLinked(const DeviceServer& s, char* why, std::size_t whySize) {
  const DeviceClassGuid& g = s.setup.interfaceClass;
  char classKey[160];
  std::snprintf(classKey, sizeof classKey,
                "System\\CurrentControlSet\\Control\\DeviceClasses\\{%08lx-%04x-%04x-%02x%02x-"
                "%02x%02x%02x%02x%02x%02x}",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  const std::string control = std::string(classKey) + "\\##?#" + DevicePart(s.path) + "\\#" +
                              ReferencePart(s.path) + "\\Control";
  HKEY key = nullptr;
  const DWORD linked = 1;
  LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, control.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExA(key, "Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&linked),
                            sizeof linked);
    RegCloseKey(key);
  }
  if (status == ERROR_SUCCESS) return true;
  return Fail(why, whySize, "registry", "setting Linked under HKLM\\" + control,
              static_cast<DWORD>(status));
}

// \??\<tail> -> the device's pipe.
bool LinkPath(DeviceServer& s, char* why, std::size_t whySize) {
  std::wstring name = LinkName(s.path);
  std::wstring target = kNamedPipeRoot;
  UNICODE_STRING nameString = Counted(name), targetString = Counted(target);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &nameString, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  const NTSTATUS status = NtCreateSymbolicLinkObject(&s.published.link, kSymbolicLinkAllAccess,
                                                     &attributes, &targetString);
  if (status == 0) return true;
  s.published.link = nullptr;
  if (why != nullptr && whySize > 0) {
    std::snprintf(why, whySize, "NT: NtCreateSymbolicLinkObject for %s failed (status 0x%08lX)",
                  s.path.c_str(), static_cast<unsigned long>(status));
  }
  SetLastError(ERROR_GEN_FAILURE);
  return false;
}

}  // namespace

// Units that start at once take turns, so one's removal of the stale entries never meets the
// other's new one half made.
bool PublishDevice(DeviceServer& s, char* why, std::size_t whySize) {
  HANDLE turn = CreateMutexA(nullptr, FALSE, kPublishTurn);
  if (turn == nullptr) return Fail(why, whySize, "kernel", "CreateMutexA", GetLastError());
  WaitForSingleObject(turn, INFINITE);  // an abandoned turn is ours as well
  RemoveStaleDevices(s);
  const bool published = CreateDevice(s, why, whySize) && CreateInterface(s, why, whySize) &&
                         MarkLinked(s, why, whySize) && LinkPath(s, why, whySize);
  const DWORD code = GetLastError();
  ReleaseMutex(turn);
  CloseHandle(turn);
  SetLastError(code);
  return published;
}

void WithdrawDevice(DeviceServer& s) {
  Publication& p = s.published;
  if (p.link != nullptr) CloseHandle(p.link);  // a temporary object: it goes with its handle
  p.link = nullptr;
  if (p.set != INVALID_HANDLE_VALUE) {
    if (p.device.cbSize != 0) SetupDiRemoveDevice(p.set, &p.device);
    SetupDiDestroyDeviceInfoList(p.set);
  }
  p = Publication{};
}

}  // namespace platform::win32
