// korvan-efis: what the unit sends to the bridge on \PIPE00. Servo frames (type 14) at a steady
// rate with the modes and positions of the options, QNH frames (type 6) with the unit's
// altimeter setting, which keys on its terminal change, and silences on a schedule, so the
// bridge's reader and its watchdog can be watched at work. Runs on the unit's one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace efisunit {

struct OutputOptions {
  long servoHz = 20;       // servo frames per second while PIPE00 is open; 0: none
  int bankMode = 0;        // byte 4 (3: engaged)
  int pitchMode = 0;       // byte 8
  int bankPos = 7000;      // 14 bits, bytes 6 (upper 7) and 7 (lower 7); 7000 is the centre
  int pitchPos = 7000;     // bytes 10 and 11
  long qnh = 10132;        // the unit's altimeter setting, 0.1 hPa
  bool qnhAtOpen = false;  // --qnh given: the setting goes out when PIPE00 opens
  long qnhEveryMs = 0;     // > 0: the setting goes out that often too
  long silentAfterS = 0;   // > 0: no frame from that many seconds after PIPE00 first opened
  long silentForS = 0;     // > 0: ... for that long, then frames again, and so on
};

// The options' part of the usage text.
extern const char kOutputUsage[];

// Takes argv[*i] (and its value) when it is an output option: true, with *i on the last word
// taken. A bad or missing value: true with *error saying what is wrong. Not an output option:
// false.
bool ParseOutputOption(int argc, char** argv, int* i, OutputOptions* options, std::string* error);

// The frames as the unit sends them: QNH 6 bytes, servo 12 bytes.
inline constexpr std::size_t kQnhFrameBytes = 6;
inline constexpr std::size_t kServoFrameBytes = 12;
void MakeQnhFrame(long tenths, std::uint8_t (&frame)[kQnhFrameBytes]);
void MakeServoFrame(const OutputOptions& options, std::uint8_t (&frame)[kServoFrameBytes]);

class UnitOutputs {
 public:
  explicit UnitOutputs(const OutputOptions& options) : options_(options), qnh_(options.qnh) {}

  // Puts a terminal on standard input into key-at-a-time mode (End puts it back). Keys are
  // read from a pipe too; an empty or closed standard input is not watched.
  void Begin();
  void End();
  // What to poll for keys, -1 for none.
  int KeyFd() const { return keyFd_; }
  // Milliseconds until the next frame is due, -1 when none ever is, for the poll's timeout.
  int MsUntilDue(std::uint64_t now) const;

  // The bridge has opened PIPE00 (a new connection).
  void ReadPipeOpened(std::uint64_t now);
  // Standard input is readable: handles the keys it holds.
  void KeysReady(std::uint64_t now);
  // One key: '+' raises the setting by 1 hPa, '-' lowers it; the change is sent at once.
  void Key(char key, std::uint64_t now);
  // Sends what is due, while `pipeOpen` (the bridge has PIPE00 open), through the sink. A frame
  // the sink does not take (no room: a bridge that does not read) is dropped: the unit never
  // waits for it.
  void SendDue(bool pipeOpen, std::uint64_t now);
  // Where the frames go: true when `send` took the frame whole.
  using Sink = bool (*)(void* context, const std::uint8_t* frame, std::size_t size);
  void SetSink(Sink send, void* context) {
    sink_ = send;
    sinkContext_ = context;
  }

  // The servo frames' modes and positions from now on (the autopilot's while it is engaged).
  void SetServos(int bankMode, int bankPos, int pitchMode, int pitchPos);
  // The bridge sent a setting: the unit holds it from now on, without sending it back.
  void TakeQnh(long tenths) { qnh_ = tenths; }
  // Keys read from standard input go to `onKey` (which may call Key); every frame sent is
  // shown to `onSent`.
  using KeyHook = void (*)(void* context, char key);
  using SentHook = void (*)(void* context, const std::uint8_t* frame, std::size_t size);
  void SetHooks(KeyHook onKey, SentHook onSent, void* context) {
    onKey_ = onKey;
    onSent_ = onSent;
    hookContext_ = context;
  }

  long Qnh() const { return qnh_; }
  long ServoFramesSent() const { return servoSent_; }
  long QnhFramesSent() const { return qnhSent_; }
  long FramesDropped() const { return dropped_; }

 private:
  void RestoreKeys();  // the terminal as Begin found it
  // A key read: to the key hook when one is set, else Key.
  void TakeKey(char key, std::uint64_t now);
  // A frame handed to the connection whole (counted as sent, shown to the sent hook) or not
  // (dropped).
  void Sent(bool whole, const std::uint8_t* frame, std::size_t size, long* sent);
  bool Silent(std::uint64_t now) const;
  void Send(const std::uint8_t* frame, std::size_t size, long* sent);
  void SendQnh();

  OutputOptions options_;
  long qnh_;
  int keyFd_ = -1;
  bool terminalSet_ = false;
  bool opened_ = false;          // PIPE00 has opened at least once
  std::uint64_t firstOpen_ = 0;  // the silence schedule counts from here
  bool wasSilent_ = false;
  bool qnhPending_ = false;
  std::uint64_t servoBase_ = 0;   // servo frame k is due k x 1000 / HZ ms after the open
  std::uint64_t servoIndex_ = 0;  // the k of the next one
  std::uint64_t nextServo_ = 0;   // when it is due
  std::uint64_t nextQnh_ = 0;
  long servoSent_ = 0;
  long qnhSent_ = 0;
  long dropped_ = 0;
  Sink sink_ = nullptr;
  void* sinkContext_ = nullptr;
  KeyHook onKey_ = nullptr;
  SentHook onSent_ = nullptr;
  void* hookContext_ = nullptr;
};

}  // namespace efisunit
