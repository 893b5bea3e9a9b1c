/* What both bare servers start with: a SOCK_SEQPACKET listener at PATH, "ready" printed once it
 * listens, and its one connection accepted. The connection, or -1. */
#pragma once

#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>

static int accept_one_at(const char* path) {
  struct sockaddr_un address = {.sun_family = AF_UNIX};
  strncpy(address.sun_path, path, sizeof address.sun_path - 1);
  int listener = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  if (listener < 0 || bind(listener, (struct sockaddr*)&address, sizeof address) != 0 ||
      listen(listener, 1) != 0)
    return -1;
  printf("ready\n");
  fflush(stdout);
  return accept(listener, NULL, NULL);
}
