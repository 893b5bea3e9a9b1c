// The EFIS link: finding the EFIS through its device interface, opening the device and its two
// pipes, and closing them again. Everything here runs on the user-interface thread, except that
// the reader thread reads EfisLink.ReadChannel afresh before each of its reads.
#pragma once

#include <atomic>
#include <string>

#include "platform/ipc.h"

class TMemo;
class TButton;

struct TEfisLink {
  // The device interface path of the chosen EFIS; empty until one is found.
  std::string DevicePath;
  // Each handle is open, or empty: 0, or kInvalidHandle after a failed open.
  platform::Handle DeviceHandle = 0;             // held open while connected, never used
  std::atomic<platform::Handle> ReadChannel{0};  // "\PIPE00", read by the reader thread only
  platform::Handle WriteChannel = 0;             // "\PIPE01", written by every frame sender
  bool EfisConnected = false;  // the last connect opened all three; cleared by a failed send
  // A manual-reset event, set while ReadChannel holds an open pipe: the reader waits on it
  // instead of trying to read nothing. Made by EfisPrepareReaderWait; 0 when none could be.
  std::atomic<platform::Handle> ReadChannelOpen{0};
};

extern TEfisLink EfisLink;

// Where the link writes its log lines and which button ("Reconnect to EFIS ") it enables and
// disables. Either may be null: nothing is then written or switched.
void EfisAttachWindow(TMemo* log, TButton* reconnect);

// True for a handle that an open produced (neither 0 nor kInvalidHandle). Any thread.
inline bool EfisHandleOpen(platform::Handle handle) {
  return handle != 0 && handle != platform::kInvalidHandle;
}

// Reads the path of every present EFIS interface in enumeration order into DevicePath, so the
// last one wins; stops at the first index that cannot be read. True when one was read; on false
// DevicePath is unchanged.
bool FindEfisDevice();

// The connect and reconnect: closes what is open (write, read, device), discovers, opens the
// device and both pipes with a log line per step, stamps the frame headers whatever the outcome,
// and disables the reconnect button only when all of it succeeded.
void EfisConnect();

// The opening half of EfisConnect on the DevicePath already set: the device, then both pipes
// (both opened before either is judged), with their log lines; clears EfisConnected on any
// failure. Runs only while EfisConnected is set.
void EfisOpenChannels();

// Closes the write pipe, the read pipe and the device, in this order, each only if open, and
// leaves all three empty. The reconnect's first step and the shutdown close.
void EfisCloseHandles();

// Makes ReadChannelOpen if it is not made yet, set when the read pipe is open. On the
// user-interface thread before a reader starts, so the reader only ever reads it; the connect
// and the close set and reset it.
void EfisPrepareReaderWait();

// The link's report: one line at the end of the log.
void EfisLogLine(const char* line);
// Enables or disables the reconnect button.
void EfisSetReconnectEnabled(bool enabled);
