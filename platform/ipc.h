// The simulator link's view of the operating system: window lookup, registered messages, global
// atoms, named shared areas, the synchronous message exchange, and the last error. The bridge
// calls it on its user-interface thread; korvan-sim on its serving thread.
//
// Both backends give the same observable behaviour. The Win32 backend passes the documented
// arguments straight to the Windows API; the POSIX backend emulates it under the namespace root
// of posix/posix_root.h, as design.md's contract lays out. Each declaration says:
//   Returns  the result, and what it is on failure.
//   Errors   the LastError() code of each failure, with when. Where Windows documents a code
//            the POSIX backend gives the same; "POSIX:" marks a failure only the emulation has
//            (the namespace root R cannot be made, a table of its own is full, a system call
//            fails: the errno's code of posix/posix_errors.h). Where Windows documents none it
//            may set a code of its own.
//   Thread   which threads may call it. Nothing here keeps state between threads unless it
//            says so; LastError is per thread.
//   Blocks   whether it waits, for what, and for how long at most.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// A kernel object (a mapping, a file, a pipe, a thread). 0 means none.
using Handle = std::uintptr_t;
// A top-level window. 0 means none.
using WindowHandle = std::uintptr_t;

// What CreateFile returns on failure (INVALID_HANDLE_VALUE).
inline constexpr Handle kInvalidHandle = ~Handle{0};

// Error codes, numbered as Windows numbers them (the Win32 backend proves each against the SDK).
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInvalidName = 123;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorFilenameTooLong = 206;
inline constexpr std::uint32_t kErrorInvalidAddress = 487;
// A killed thread's wait or read (POSIX), a device write not taken in time.
inline constexpr std::uint32_t kErrorOperationAborted = 995;
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;
inline constexpr std::uint32_t kErrorInvalidWindowHandle = 1400;
inline constexpr std::uint32_t kErrorClassAlreadyExists = 1410;
inline constexpr std::uint32_t kErrorTimeout = 1460;

// FindWindowExA(null, null, className, null): the first top-level window of the class.
// Returns  the window; 0 when none of the class exists (LastError then as the system left it:
//          no caller reads it). A success leaves LastError as it was.
// Errors   POSIX: kErrorNotEnoughMemory when this process has found windows of 32 other classes.
// Thread   any. POSIX: a window exists while its socket accepts connections.
// Blocks   no: it never waits for the window (POSIX: one non-blocking connect, closed at once).
WindowHandle FindTopLevelWindow(const char* className);

// RegisterWindowMessageA: a message id for `name`.
// Returns  the same id for the same name in every process (ASCII case-insensitive), in
//          0xC000..0xFFFF; 0 on failure.
// Errors   kErrorInvalidParameter: name null, empty or longer than 255 characters.
// Thread   any.   Blocks  no.
std::uint32_t RegisterMessageName(const char* name);

// GlobalAddAtomA: a system-wide atom naming `name`.
// Returns  the atom, in 0xC000..0xFFFF; 0 on failure. Windows counts a name added twice and
//          returns its one atom; POSIX makes a second atom (the bridge adds each name once).
// Errors   kErrorInvalidParameter: name null, empty or longer than 255 characters.
//          kErrorNotEnoughMemory: every atom is taken.
//          POSIX: kErrorAccessDenied when R cannot be made; the errno's code of a failed write.
// Thread   any.   Blocks  no (POSIX: a few file operations, never a wait for another process).
std::uint16_t AddGlobalAtom(const char* name);

// GlobalDeleteAtom. Deleting an atom that does not exist is harmless. No result; LastError
// may change. Thread: any. Blocks: Win32 no. POSIX: first ends this process's connections to
// windows (a server may have kept what the atom named for one of them) and waits up to 1 s in
// all for their servers to close their ends.
void DeleteGlobalAtom(std::uint16_t atom);

// GlobalGetAtomNameA: copies the atom's name, NUL-terminated and cut to size - 1 characters.
// Returns  the number of characters copied; 0 on failure (buffer[0] is then NUL when size > 0).
// Errors   kErrorInvalidParameter: buffer null or size 0.
//          kErrorInvalidHandle: no such atom.
// Thread   any.   Blocks  no.
std::uint32_t GetGlobalAtomName(std::uint16_t atom, char* buffer, std::uint32_t size);

// CreateFileMappingA(INVALID_HANDLE_VALUE, null, PAGE_READWRITE, 0, size, name): a named area
// of `size` bytes backed by the paging file, zero-filled when new. name null: an unnamed one.
// Returns  a handle (close it with CloseKernelHandle); 0 on failure. When a live area of that
//          name exists already it returns a handle to that one, with LastError()
//          kErrorAlreadyExists; after any other success LastError() is 0.
// Errors   kErrorInvalidParameter: size 0.
//          POSIX: kErrorInvalidName for a name that cannot be a file of R (empty, with a '/',
//          "." or "..", over 255 bytes); kErrorFilenameTooLong for a path over 1023 bytes;
//          kErrorAccessDenied when R cannot be made or another process kept the name changing
//          for 500 tries; kErrorTooManyOpenFiles when 64 areas or 1024 handles are open; the
//          errno's code of a failed file call.
// Thread   any.
// Blocks   Win32: no. POSIX: while another process is replacing or removing an area of the same
//          name, up to 500 pauses of 1 ms.
Handle CreateSharedArea(const char* name, std::uint32_t size);

// OpenFileMappingA(FILE_MAP_WRITE, FALSE, name): the serving side's way to an existing area.
// Returns  a handle; 0 on failure.
// Errors   kErrorFileNotFound: no live area of that name. Otherwise as CreateSharedArea.
// Thread   any.   Blocks  as CreateSharedArea.
Handle OpenSharedArea(const char* name);

// MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0): the whole area, read and write.
// Returns  the view (release it with UnmapSharedArea; it keeps the area alive after the
//          handle's close); null on failure.
// Errors   kErrorInvalidHandle: not an open area handle. POSIX: kErrorNotEnoughMemory when 64
//          views are mapped; kErrorInvalidParameter for an area file that is empty or over 4 GiB.
// Thread   any.   Blocks  no.
void* MapSharedArea(Handle mapping);

// The size in bytes of a view of MapSharedArea: Win32 the mapping's size rounded up to whole
// pages (all of it accessible), POSIX the area's size. 0 for null or anything that is not the
// start of a view. LastError unchanged. Thread: any. Blocks: no.
std::uint32_t SharedAreaSize(const void* view);

// Whether the area behind a view of MapSharedArea still holds all of its bytes. Win32: always
// (a section cannot shrink). POSIX: false once an access into the view found the area's file
// cut shorter than the view by another process. Such an access would die of SIGBUS; instead
// the layer's SIGBUS handler puts private zero-filled memory in the view's place, the access
// completes on it, and so does every later one, until UnmapSharedArea. The handler is the
// process's from the first MapSharedArea on; a SIGBUS outside every view goes on to the
// handler that was there before it, or kills the process as it would have.
// Returns  true for an intact view; false for a cut one, null, or what is not a view.
// Thread   any.   Blocks  no.
bool SharedAreaIntact(const void* view);

// UnmapViewOfFile.
// Returns  true once the view is gone; false on failure.
// Errors   kErrorInvalidAddress: null, or an address that is not the start of a view.
// Thread   any.   Blocks  no.
bool UnmapSharedArea(void* view);

// CloseHandle, for every kind of Handle of this layer (mappings, device files and pipes,
// threads). The handle is gone when it returns, whatever the outcome.
// Returns  true; false for a handle that is not open (kErrorInvalidHandle).
// Thread   any, also while another thread uses the handle: a device read blocked on it then
//          fails (platform/device.h). The bridge closes the reader's pipe on its user-interface
//          thread while the reader thread may be reading it.
// Blocks   no. POSIX: waits only for another thread's call on the same handle that holds its
//          entry for a moment (never for a read blocked on the device).
bool CloseKernelHandle(Handle handle);

// SendMessageTimeoutA(window, msg, wParam, lParam, SMTO_NORMAL, timeoutMs, &reply): the
// message goes to the window's procedure, in its process.
// Returns  true once the procedure has returned, with its whole result (LRESULT) in *reply
//          (reply may be null); false on failure.
// Errors   kErrorTimeout: no answer within timeoutMs.
//          kErrorInvalidWindowHandle: no such window, or it went (POSIX: the connection was
//          refused or lost). POSIX: the errno's code when no socket can be made.
// Thread   any. Win32: while it waits, messages sent to the calling thread's own windows are
//          still handled (SMTO_NORMAL). POSIX: the process keeps one connection per window for
//          its messages (one at a time; a second thread's message meanwhile goes on a
//          connection of its own), made again when the server has closed it; a message the
//          server never read goes once more on the new connection. A message that fails ends
//          the connection, so a late reply never answers the next message.
// Blocks   up to timeoutMs for the answer (POSIX: the connect, the send and the answer together;
//          on a kept connection the send and the wait for the reply are one system call each).
bool SendMessageWithTimeout(WindowHandle window, std::uint32_t msg, std::uint32_t wParam,
                            std::uint32_t lParam, std::uint32_t timeoutMs, std::uintptr_t* reply);

// GetLastError / SetLastError: the calling thread's own. Thread: any. Blocks: no.
std::uint32_t LastError();
void SetLastError(std::uint32_t code);

// The system's text for an error code, for the messages that name a failure: Win32 the
// system's message (FormatMessageA, line end removed); POSIX the Windows text of each code
// this layer gives (its codes are Windows'). A code without a text: "unknown error". Never
// fails. Thread: any. Blocks: no.
std::string ErrorText(std::uint32_t code);

// Sleep: at least `milliseconds` (POSIX: resumed after a signal). LastError unchanged.
// Thread: any. Blocks: for that time.
void SleepMs(std::uint32_t milliseconds);

// GetCurrentProcessId. Thread: any. Blocks: no.
std::uint32_t CurrentProcessId();

}  // namespace platform
