// The payloads of the engine frames (ZENDA1, ZENDA2) and their auxiliary frames. Each engine
// frame computes every field first and stores them after: a value that cannot be converted
// leaves the buffer as it was and the frame unsent.
#include "efis/EngineFrames.h"

#include "efis/FrameMath.h"

namespace {

// One engine's simulator values, by the letters of the frame's arithmetic.
struct TEngineInputs {
  std::uint16_t SpeedA;
  std::uint16_t ScalerB;
  double RankineQ;          // offset 24
  double PressureP;         // offset 26
  double RankineR;          // offsets 32 to 43
  double TempH;             // offsets 10, 12, 44 to 55
  std::uint16_t ManifoldM;  // 1/1024 inch of mercury
  double ValueF;            // offset 14
};

void FillEngineFrame(TEngineFrame& frame, const TEngineInputs& in) {
  // The high 16 bits of the 32-bit product.
  const std::uint32_t speed = static_cast<std::uint32_t>(in.SpeedA) * in.ScalerB >> 16;
  const std::int64_t temp = EngineTempToCelsius(in.TempH);
  const std::int64_t value14 = Trunc(static_cast<long double>(in.ValueF) * 61.35189L);
  const std::int64_t manifold =
      Trunc(static_cast<long double>(in.ManifoldM) / 1024 * 33.86388L);  // hPa
  const std::int64_t temp24 = RankineToCelsius(in.RankineQ);
  const std::int64_t pressure = Trunc(static_cast<long double>(in.PressureP) * 0.004788026L);
  const std::int64_t temp32 = RankineToCelsius(in.RankineR);

  StoreLow16(frame, 4, speed);
  StoreLow16(frame, 10, temp);
  StoreLow16(frame, 12, temp);
  StoreLow16(frame, 14, value14);
  StoreLow16(frame, 16, manifold);
  StoreLow16(frame, 24, temp24);
  StoreLow16(frame, 26, pressure);
  for (std::size_t offset = 32; offset <= 42; offset += 2) StoreLow16(frame, offset, temp32);
  for (std::size_t offset = 44; offset <= 54; offset += 2) StoreLow16(frame, offset, temp);
}

}  // namespace

std::int64_t RankineToCelsius(double rankine) {
  return Trunc((static_cast<long double>(rankine) - 491.67L) * 5 / 9);
}

std::int64_t EngineTempToCelsius(double value) {
  return Trunc((static_cast<long double>(value) - 34) / 1.8L);
}

void FillEngine1Frame(const TSimSnapshot& s, TEngineFrame& frame) {
  FillEngineFrame(frame,
                  {s.Eng1SpeedA0898, s.Eng1ScalerB08C8, s.Eng1RankineQ3B58, s.Eng1PressureP3B60,
                   s.Eng1RankineR3B70, s.Eng1TempH08E8, s.Eng1ManifoldM08C0, s.Eng1ValueF0918});
  // Only the first unit carries these; the second sends 0 there.
  StoreLow16(frame, 18, 100);
  StoreLow16(frame, 20, 100);
  StoreLow16(frame, 22, 1000);
}

void FillEngine2Frame(const TSimSnapshot& s, TEngineFrame& frame) {
  FillEngineFrame(frame,
                  {s.Eng2SpeedA0930, s.Eng2ScalerB0960, s.Eng2RankineQ3A98, s.Eng2PressureP3AA0,
                   s.Eng2RankineR3AB0, s.Eng2TempH0980, s.Eng2ManifoldM0958, s.Eng2ValueF09B0});
}

void FillEngineAuxFrame(TEngineAuxFrame& frame) {
  StoreLow16(frame, 4, 2300);
  StoreLow8(frame, 6, 0);
}
