/* The floor of one exchange: a bare SOCK_SEQPACKET server on one kept connection. Each 16-byte
 * request makes it walk the read records in a 32 KiB shared area, filling each from a 64 KiB
 * space, and answer with an 8-byte reply. Nothing else: no lookup, no checks, no log.
 *   floor-exchange-server SOCKET AREA   (prints "ready" once it listens; ends at the client's
 *   close) */
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include "floor_listen.h"

static uint8_t space[0x10000];

static uint32_t get32(const uint8_t* at) {
  uint32_t value;
  memcpy(&value, at, 4);
  return value;
}

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  int area_fd = open(argv[2], O_RDWR | O_CREAT | O_TRUNC, 0600);
  if (area_fd < 0 || ftruncate(area_fd, 32768) != 0) return 1;
  uint8_t* area = mmap(NULL, 32768, PROT_READ | PROT_WRITE, MAP_SHARED, area_fd, 0);
  if (area == MAP_FAILED) return 1;
  for (unsigned i = 0; i < sizeof space; ++i) space[i] = (uint8_t)i;

  int fd = accept_one_at(argv[1]);
  if (fd < 0) return 1;
  uint8_t request[16];
  const uint8_t reply[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  while (recv(fd, request, sizeof request, 0) == (ssize_t)sizeof request) {
    uint32_t at = 0;
    while (at + 16 <= 32768 && area[at] != 0) {
      uint32_t id = get32(area + at), offset = get32(area + at + 4), size = get32(area + at + 8);
      if (id == 1) {
        if (offset + size <= sizeof space) memcpy(area + at + 16, space + offset, size);
        at += 16 + size;
      } else {
        at += 12 + size;
      }
    }
    send(fd, reply, sizeof reply, 0);
  }
  unlink(argv[1]);
  return 0;
}
