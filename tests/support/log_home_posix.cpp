// The log's folder of a test on POSIX: XDG_STATE_HOME.
#include <cstdlib>

#include "tests/support/log_home.h"

namespace testsupport {

TestLogHome::TestLogHome(const std::string& base) : folder_(base + "/korvan-bridge/") {
  if (const char* value = std::getenv("XDG_STATE_HOME")) {
    hadSaved_ = true;
    saved_ = value;
  }
  setenv("XDG_STATE_HOME", base.c_str(), 1);
}

TestLogHome::~TestLogHome() {
  if (hadSaved_)
    setenv("XDG_STATE_HOME", saved_.c_str(), 1);
  else
    unsetenv("XDG_STATE_HOME");
}

}  // namespace testsupport
