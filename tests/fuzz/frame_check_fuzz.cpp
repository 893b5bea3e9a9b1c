// Fuzz target of korvan-efis's frame check and its reading of the frames (the stand-in's own
// files standins/efis/frame_check.cpp and frame_decode.cpp): the input is one packet arriving on
// the unit's write pipe.
//
// Checked, from the catalogue written out here: a packet is accepted exactly when its type is one
// the bridge sends, its size is that type's, byte 0 is the size - 4, byte 1 is 0 and byte 2 is 1;
// a refusal's reason and every text made fits the buffer it was given, NUL-terminated, whatever
// its size (each buffer has exactly that size on the heap, so a byte past it is caught).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "standins/efis/frame_check.h"
#include "standins/efis/frame_decode.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzzsupport::Check;

std::size_t CatalogueSize(std::uint8_t type) {
  static const std::size_t sizes[16] = {30, 64, 64, 20, 43, 24, 6, 0, 0, 0, 0, 37, 9, 9, 0, 20};
  return type < 16 ? sizes[type] : 0;
}

// A text function's result in a buffer of exactly `room` bytes: NUL-terminated inside it.
template <typename Fill>
void CheckFits(std::size_t room, Fill fill) {
  std::vector<char> text(room, 'X');
  fill(text.data(), room);
  if (room > 0) Check(std::memchr(text.data(), '\0', room) != nullptr, "a text without its end");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> frame(data, data + size);
  const std::size_t expected = size >= 4 ? CatalogueSize(frame[3]) : 0;
  const bool wellFormed = expected != 0 && size == expected && frame[0] == expected - 4 &&
                          frame[1] == 0 && frame[2] == 1;
  Check(efisunit::OutboundFrameSize(size >= 4 ? frame[3] : 0xFF) == (size >= 4 ? expected : 0),
        "the catalogue's size of a type");

  for (std::size_t room : {std::size_t{1}, std::size_t{7}, std::size_t{96}}) {
    std::vector<char> reason(room, 'X');
    const char* why = efisunit::CheckOutboundFrame(frame.data(), size, reason.data(), room);
    Check((why == nullptr) == wellFormed, wellFormed ? "a good frame refused" : "a bad one taken");
    if (why != nullptr) Check(why == reason.data() && std::memchr(why, '\0', room), "reason");
  }
  const std::size_t hexRoom = size > 0 ? data[size - 1] % 140 : 0;
  CheckFits(hexRoom, [&](char* text, std::size_t room) {
    efisunit::HexBytes(frame.data(), size, text, room);
    if (room == 0) return;
    const std::size_t pairs = (room - 1) / 2 < size ? (room - 1) / 2 : size;
    Check(std::strlen(text) == 2 * pairs, "hex of the wrong length");
  });
  if (!wellFormed) return 0;
  efisunit::PanelReadout panel;
  efisunit::TakeFrame(frame.data(), size, panel);
  CheckFits(hexRoom,
            [&](char* text, std::size_t room) { efisunit::FormatPanel(panel, text, room); });
  CheckFits(400, [&](char* text, std::size_t room) { efisunit::FormatPanel(panel, text, room); });
  return 0;
}
