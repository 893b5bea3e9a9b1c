// The log file with the real file calls of the platform, in a folder of the test's own whose
// name is not ASCII: the stamp, the start and exit lines, the previous run kept, the file that
// reaches its limit, and a folder that cannot be made.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "app/LogFile.h"
#include "platform/logfile.h"
#include "tests/support/child_process.h"
#include "tests/support/log_home.h"

namespace {

using Lines = std::vector<std::string>;

const char kStartLine[] = "korvan-bridge 1.1 started on ";
const char kExitLine[] = "korvan-bridge 1.1 exits";

// The local time now to the second, as the stamp writes it ("2026-12-09 14:03:27").
std::string LocalSecondNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
  return text;
}

bool IsStamp(const std::string& s) {
  if (s.size() != kLogStampLength) return false;
  const std::string shape = "dddd-dd-dd dd:dd:dd.ddd ";
  for (std::size_t i = 0; i < shape.size(); ++i) {
    const bool digit = s[i] >= '0' && s[i] <= '9';
    if (shape[i] == 'd' ? !digit : s[i] != shape[i]) return false;
  }
  return true;
}

// The length in the file of a line of `text`.
std::uint64_t FileLength(const std::string& text) {
  return kLogStampLength + text.size() + std::string(platform::TextLineEnd()).size();
}

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeTestRuntimeDir("logfile");
    base_ = testsupport::JoinPath(dir_, "Pilot \u00c5s\u00e9 \u2708 \u822a\u7a7a");
    home_ = std::make_unique<testsupport::TestLogHome>(base_);
    log_ = home_->Folder() + "korvan-bridge.log";
  }
  void TearDown() override {
    LogFileExit();
    home_.reset();
    testsupport::RemoveTree(dir_);
  }

  std::string Content(const std::string& path) {
    std::string content;
    EXPECT_TRUE(testsupport::ReadWholeFile(path, &content)) << path;
    return content;
  }
  // The file's lines without their stamps; each stamp checked, each line ended.
  Lines TextOf(const std::string& path) {
    const std::string content = Content(path);
    const std::string end = platform::TextLineEnd();
    Lines lines;
    for (std::size_t at = 0; at < content.size();) {
      const std::size_t stop = content.find(end, at);
      if (stop == std::string::npos) {
        ADD_FAILURE() << "a line without its end: " << content.substr(at);
        break;
      }
      const std::string line = content.substr(at, stop - at);
      EXPECT_TRUE(IsStamp(line.substr(0, kLogStampLength))) << line;
      lines.push_back(line.size() < kLogStampLength ? line : line.substr(kLogStampLength));
      at = stop + end.size();
    }
    return lines;
  }

  std::string dir_, base_, log_;
  std::unique_ptr<testsupport::TestLogHome> home_;
};

TEST(LogStamp, EachFieldHasItsFixedWidth) {
  struct Case {
    platform::LocalTime time;
    const char* stamp;
  };
  const Case cases[] = {
      {{2026, 12, 9, 14, 3, 27, 415}, "2026-12-09 14:03:27.415 "},
      {{2027, 1, 1, 0, 0, 0, 0}, "2027-01-01 00:00:00.000 "},
      {{2026, 12, 31, 23, 59, 60, 999}, "2026-12-31 23:59:60.999 "},
      {{987, 7, 4, 9, 8, 7, 6}, "0987-07-04 09:08:07.006 "},
      {{12345, 123, 100, 24, 60, 61, 1000}, "2345-23-00 24:60:61.000 "},
  };
  for (const Case& c : cases) {
    char out[kLogStampLength + 2];
    out[kLogStampLength + 1] = 'x';
    FormatLogStamp(c.time, out);
    EXPECT_STREQ(out, c.stamp);
    EXPECT_EQ(out[kLogStampLength + 1], 'x') << "written past the stamp";
  }
}

TEST_F(LogFileTest, ARunWritesItsStartItsLinesStampedNowAndItsExit) {
  LogFileLine("before the log is open");
  EXPECT_TRUE(testsupport::FilesBelow(base_).empty()) << "a form alone writes no file";
  const std::string before = LocalSecondNow();
  LogFileOpen();
  LogFileLine("Connected to FSX");
  LogFileLine("");
  LogFileLine("EFIS detected on USB, driver initialized.");
  LogFileExit();
  const std::string after = LocalSecondNow();
  LogFileLine("after the exit");

  EXPECT_EQ(testsupport::FilesBelow(home_->Folder()), Lines{"korvan-bridge.log"});
  EXPECT_EQ(TextOf(log_), (Lines{kStartLine + platform::SystemVersion(), "Connected to FSX", "",
                                 "EFIS detected on USB, driver initialized.", kExitLine}));
  // Local time, in order, within the test's own readings.
  const std::string content = Content(log_);
  std::string last = before;
  for (std::size_t at = 0; at < content.size(); at = content.find('\n', at) + 1) {
    const std::string second = content.substr(at, 19);
    EXPECT_LE(last, second);
    EXPECT_LE(second, after);
    last = second;
  }
}

TEST_F(LogFileTest, TheStartKeepsThePreviousRunAsLog1ReplacingAnOlderOne) {
  ASSERT_TRUE(testsupport::MakeFolders(home_->Folder()));
  const std::string previous = "previous run\r\nno line end";
  ASSERT_TRUE(testsupport::WriteWholeFile(log_, previous));
  ASSERT_TRUE(testsupport::WriteWholeFile(log_ + ".1", "the run before"));
  LogFileOpen();
  LogFileLine("Connected to FSX");
  EXPECT_EQ(Content(log_ + ".1"), previous);
  LogFileExit();
  const Lines first = {kStartLine + platform::SystemVersion(), "Connected to FSX", kExitLine};
  EXPECT_EQ(TextOf(log_), first);

  LogFileOpen();  // the next run
  LogFileExit();
  EXPECT_EQ(TextOf(log_ + ".1"), first);
  EXPECT_EQ(TextOf(log_), (Lines{kStartLine + platform::SystemVersion(), kExitLine}));
  EXPECT_EQ(testsupport::FilesBelow(home_->Folder()),
            (Lines{"korvan-bridge.log", "korvan-bridge.log.1"}));
}

// A write that makes the file reach the limit ends it with that line whole; the next line
// opens a fresh file, and the file before goes (one generation kept).
TEST_F(LogFileTest, AFileThatReachesItsLimitGoesOnInAFreshOne) {
  const std::string start = kStartLine + platform::SystemVersion();
  const std::uint64_t limit = FileLength(start) + 100;
  LogFileOpen(limit);
  const std::string a(100 - FileLength("") - 1, 'a');  // one byte short of the limit
  LogFileLine(a);
  EXPECT_EQ(TextOf(log_), (Lines{start, a}));
  LogFileLine("b");  // crosses it
  EXPECT_EQ(TextOf(log_ + ".1"), (Lines{start, a, "b"}));
  EXPECT_EQ(Content(log_), "");
  const std::string c(limit - FileLength(""), 'c');  // exactly the limit on its own
  LogFileLine(c);
  EXPECT_EQ(TextOf(log_ + ".1"), Lines{c});
  EXPECT_EQ(Content(log_), "");
  LogFileLine("d");
  LogFileExit();
  EXPECT_EQ(TextOf(log_), (Lines{"d", kExitLine}));
  EXPECT_EQ(TextOf(log_ + ".1"), Lines{c});
}

TEST_F(LogFileTest, TheProgramsLimitIsOneMebibyte) {
  LogFileOpen();
  const std::string line(1000, 'x');
  std::uint64_t size = FileLength(kStartLine + platform::SystemVersion());
  int lines = 0;
  for (; size < 1048576; ++lines) {
    LogFileLine(line);
    size += FileLength(line);
  }
  std::string whole;
  ASSERT_TRUE(testsupport::ReadWholeFile(log_ + ".1", &whole)) << "no rotation at 1 MiB";
  EXPECT_EQ(whole.size(), size);
  EXPECT_EQ(TextOf(log_ + ".1").size(), static_cast<std::size_t>(lines + 1));
  EXPECT_EQ(Content(log_), "");
}

// A place under a regular file cannot be a folder, for root too: nothing is made, nothing fails.
TEST_F(LogFileTest, AFolderThatCannotBeMadeChangesNothing) {
  const std::string blocker = testsupport::JoinPath(dir_, "a file");
  ASSERT_TRUE(testsupport::WriteWholeFile(blocker, "not a folder"));
  home_.reset();
  home_ = std::make_unique<testsupport::TestLogHome>(testsupport::JoinPath(blocker, "state"));
  std::string folder = "stale";
  EXPECT_FALSE(platform::MakeLogFolder(&folder));
  EXPECT_EQ(folder, "");
  LogFileOpen();
  for (int i = 0; i < 3; ++i) LogFileLine("Connected to FSX");
  LogFileExit();
  EXPECT_EQ(testsupport::FilesBelow(dir_), (Lines{"a file"}));
  EXPECT_EQ(Content(blocker), "not a folder");
}

}  // namespace
