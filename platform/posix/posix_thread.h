// The POSIX layer's view of its own threads: the kill event of the calling thread, for the
// blocking calls of other areas (a device read) that must give up when it is set. Any thread.
#pragma once

namespace platform::posix {

// The calling thread's kill event (readable once the thread is killed), or -1 on a thread not
// made by StartThread. Valid for as long as the calling thread runs.
int CurrentKillEvent();

}  // namespace platform::posix
