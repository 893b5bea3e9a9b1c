// One packet onto a socket by a deadline: what the simulator link's message and the EFIS
// pipes' writes share. Any thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace platform::posix {

// Sends `packet` whole in one non-blocking send; only while the socket is full does it wait for
// room, until `deadline` (a MonotonicMs value). Returns what send returns (the bytes sent, or
// -1 with errno); -1 with ETIMEDOUT once the deadline passed with the socket still full.
// Blocks   only while the socket is full, at most until the deadline.
ssize_t SendPacketBy(int fd, const void* packet, std::size_t size, std::uint64_t deadline);

}  // namespace platform::posix
