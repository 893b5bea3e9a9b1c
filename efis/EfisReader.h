// The EFIS reader: the thread that blocks on the read pipe and decodes the unit's QNH and servo
// frames into the shared state of efis/SharedState.h, and the servo status frame that reports
// the deflection back. The bridge cycle turns the shared state into simulator writes.
//
// A killed reader: Windows stops it wherever it is, between two writes of one frame if so. On
// POSIX the kill ends the reader's blocked read at once, taking no frame; a reader that was
// decoding when the kill landed finishes that frame (a few stores, no wait) and then ends
// without another read, as if the kill had come just after the frame. Each reader reads into a
// buffer of its own, and every shared value is one atomic word, so such a frame and the first
// frames of the new reader never tear each other.
//
// Threads: PollEfisInput and DecodeEfisInput run on the reader thread, TMyThread's Start and
// Kill on the user-interface thread; ServoCommand keeps no state (any thread).
#pragma once

#include <atomic>
#include <cstdint>

#include "efis/FrameBuffers.h"
#include "platform/ipc.h"

inline constexpr std::uint32_t kEfisInputSize = 64;

// The last servo frame's positions (byte 6 x 128 + byte 7, byte 10 x 128 + byte 11) and modes
// (bytes 4 and 8; 3 is engaged). Written by the reader only.
extern std::atomic<std::uint16_t> BankServoPos;
extern std::atomic<std::uint16_t> PitchServoPos;
extern std::atomic<std::uint8_t> BankServoMode;
extern std::atomic<std::uint8_t> PitchServoMode;

// One read of up to 64 bytes from EfisLink.ReadChannel into `input`, then the decode of what
// it delivered. With no open channel (no EFIS, a pipe refused, a reconnect closing it) it reads
// nothing and waits, without waking, until a connect opens one (EfisLink.ReadChannelOpen) or
// the thread is killed. A failed read on an open channel (the unit gone, the thread killed)
// changes nothing and pauses 10 ms, so a reader whose unit went does not spin. Reader thread.
void PollEfisInput(std::uint8_t (&input)[kEfisInputSize]);

// The decode of one read's `count` bytes. Byte 2 must be 1. Type 6 (QNH, 0.1 hPa at bytes 4-5)
// becomes HeldQnh in 1/16 hPa with QnhFromEfis raised; type 14 (servo frame) sets the positions
// and modes, the commands (only while already engaged), the servo status values, the
// engagement and its countdown, ServoFrameSeen and ReaderIdleTicks. A read too short for its
// type's fields (6 bytes for QNH, 12 for a servo frame) is dropped, as is every other type.
void DecodeEfisInput(const std::uint8_t* input, std::uint32_t count);

// The servo status frame's payload from the status values the reader published (efis/
// SharedState.h ServoStatusValues: the bank value in the low half, the pitch value in the high):
// each at its field, every other payload byte 0. No state: any thread.
void FillServoStatusFrame(std::uint32_t values, std::uint8_t (&frame)[kServoStatusFrameSize]);

// The simulator input a servo position asks for: 16384 - (position - 1400) x 2048 / 700, the
// quotient truncated, the low 16 bits taken as signed. 7000 gives 0, 1400 16384, 12600 -16384.
std::int16_t ServoCommand(std::uint16_t position);

// The reader thread. The object only holds the running thread's handle, on the user-interface
// thread; the thread itself never touches it, so a killed reader can never leave it in use.
class TMyThread {
 public:
  // Starts a reader running at once. Throws std::runtime_error when no thread can be made.
  void Start();
  // Kills the running reader at once, without asking it and without waiting for it, and
  // releases its handle. Nothing when none runs.
  void Kill();
  bool Running() const { return handle_ != 0; }
  platform::Handle Handle() const { return handle_; }

  // The body: PollEfisInput until the thread is killed.
  static void Execute(void* context);

 private:
  platform::Handle handle_ = 0;
};
