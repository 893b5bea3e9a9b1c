/* The other end of the bare frame send: a SOCK_SEQPACKET listener that takes one connection
 * and reads packets until it closes.
 *   floor-frame-sink SOCKET   (prints "ready" once it listens) */
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  struct sockaddr_un address = {.sun_family = AF_UNIX};
  strncpy(address.sun_path, argv[1], sizeof address.sun_path - 1);
  int listener = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  if (listener < 0 || bind(listener, (struct sockaddr*)&address, sizeof address) != 0 ||
      listen(listener, 1) != 0)
    return 1;
  printf("ready\n");
  fflush(stdout);
  int fd = accept(listener, NULL, NULL);
  char frame[512];
  while (recv(fd, frame, sizeof frame, 0) > 0) {
  }
  unlink(argv[1]);
  return 0;
}
