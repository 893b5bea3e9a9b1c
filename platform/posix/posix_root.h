// The namespace root R under which the POSIX layer keeps every emulated Windows object:
// $XDG_RUNTIME_DIR/korvan-win32 when that variable names a directory, else
// /tmp/korvan-win32-<uid>. Directories are made mode 0700, files 0600.
#pragma once

#include <string>

namespace platform::posix {

// R itself, created (0700) if missing. Read afresh on every call, so a test may point
// XDG_RUNTIME_DIR elsewhere between calls. "" when R cannot be made or is not a private
// directory of this user (a symlink, another user's). Any thread.
std::string NamespaceRoot();

// R/<sub>, created (0700, with R) if missing; "" when it cannot be made. `sub` may name nested
// directories ("devices/{...}"); "." and ".." parts are refused. Any thread.
std::string NamespaceDir(const char* sub);

// True for a name that may be a file of its own in a directory of R: not empty, at most 255
// bytes, no '/', not "." or "..". Any thread.
bool IsObjectName(const char* name);

}  // namespace platform::posix
