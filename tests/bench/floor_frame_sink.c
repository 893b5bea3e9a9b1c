/* The other end of the bare frame send: a SOCK_SEQPACKET listener that takes one connection
 * and reads packets until it closes.
 *   floor-frame-sink SOCKET   (prints "ready" once it listens) */
#include <sys/socket.h>
#include <unistd.h>

#include "floor_listen.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  int fd = accept_one_at(argv[1]);
  if (fd < 0) return 1;
  char frame[512];
  while (recv(fd, frame, sizeof frame, 0) > 0) {
  }
  unlink(argv[1]);
  return 0;
}
