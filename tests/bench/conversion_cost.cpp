// What the floor that does the bridge's work leaves out: the conversions and frame fills of
// efis/ and the reader's decode, timed in a tight loop over a second's worth of them at the
// bridge's nominal rates (per second 10 fast conversions with their attitude and servo status
// fills, 4 slow ones with the sensor, engine and auxiliary fills, 2 sets of GPS fills, 20 servo
// frames decoded; with no EFIS the conversions alone, as the senders then fill nothing), as the
// share of one core they take.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "efis/EfisReader.h"
#include "efis/EngineFrames.h"
#include "efis/FlightFrames.h"
#include "efis/FrameMath.h"
#include "tests/bench/bench.h"

namespace {

// Level flight near Amsterdam at 3000 ft, both engines at 2400 RPM (korvan-sim's fixed state).
TSimSnapshot Flight() {
  TSimSnapshot s{};
  s.CompassHeading02CC = s.GyroHeading2B00 = 90.0;
  s.GForce11BA = 624;
  s.Variation02A0 = 364;
  s.Latitude6010 = 52.3086;
  s.Longitude6018 = 4.7639;
  s.GpsAltitude6020 = 914.4;
  s.GroundSpeed6030 = 53.8;
  s.Track0580 = 1073741824u;
  s.Altitude0574 = 914;
  s.Airspeed02BC = 12800;
  s.OutsideTemp0E8C = 2304;
  s.AmbientPressure28C8 = 1896.6;
  s.Sensor2840 = 12.0;
  s.Sensor2848 = 5.0;
  s.Qnh0330 = 16211;
  s.Eng1SpeedA0898 = s.Eng2SpeedA0930 = 9600;
  s.Eng1ScalerB08C8 = s.Eng2ScalerB0960 = 16384;
  s.Eng1ManifoldM08C0 = s.Eng2ManifoldM0958 = 24576;
  s.Eng1TempH08E8 = s.Eng2TempH0980 = 1295.0;
  s.Eng1ValueF0918 = s.Eng2ValueF09B0 = 60.0;
  s.Eng1RankineQ3B58 = s.Eng2RankineQ3A98 = 645.0;
  s.Eng1PressureP3B60 = s.Eng2PressureP3AA0 = 9400.0;
  s.Eng1RankineR3B70 = s.Eng2RankineR3AB0 = 816.0;
  return s;
}

struct Frames {
  std::uint8_t sensor[kSensorFrameSize], attitude[kAttitudeFrameSize], gps1[kGps1FrameSize],
      gps2[kGps2FrameSize], gps3[kGps3FrameSize], status[kServoStatusFrameSize];
  TEngineFrame engine1, engine2;
  TEngineAuxFrame aux1, aux2;
};

// An engaged servo frame: both servos in mode 3.
constexpr std::uint8_t kServoFrame[12] = {8, 0, 1, 14, 3, 0, 43, 96, 3, 0, 60, 20};

void OneSecond(bool efis, const TSimSnapshot& snapshot, TFlightDerived& derived, Frames& f) {
  for (int fast = 0; fast < 10; ++fast) {
    ConvertFast(snapshot, derived);
    if (!efis) continue;
    FillServoStatusFrame(0x00040008u, f.status);
    FillAttitudeFrame(snapshot, derived, f.attitude);
  }
  for (int slow = 0; slow < 4; ++slow) {
    ConvertSlow(snapshot, derived);
    if (!efis) continue;
    FillSensorFrame(snapshot, derived, f.sensor);
    if (slow % 2 == 1) {
      FillGps1Frame(snapshot, derived, f.gps1);
      FillGps2Frame(derived, f.gps2);
      FillGps3Frame(f.gps3);
    }
    FillEngine1Frame(snapshot, f.engine1);
    FillEngineAuxFrame(f.aux1);
    FillEngine2Frame(snapshot, f.engine2);
    FillEngineAuxFrame(f.aux2);
  }
  for (int servo = 0; efis && servo < 20; ++servo) DecodeEfisInput(kServoFrame, 12);
}

}  // namespace

namespace bench {

double ConversionsPercentOfOneCore(bool efis) {
  SetExtendedPrecision();
  const TSimSnapshot snapshot = Flight();
  TFlightDerived derived{};
  static Frames frames;
  constexpr int kSecondsPerBatch = 2000;
  std::vector<double> usPerSecond;
  for (int batch = 0; batch < 5; ++batch) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kSecondsPerBatch; ++i) OneSecond(efis, snapshot, derived, frames);
    const std::chrono::duration<double, std::micro> spent =
        std::chrono::steady_clock::now() - start;
    usPerSecond.push_back(spent.count() / kSecondsPerBatch);
  }
  // Microseconds of work in each second: a millionth of a core each, so 1e4 of them are 1 %.
  return Median(usPerSecond) / 1e4;
}

}  // namespace bench

KORVAN_BENCH(conversions) {
  (void)context;
  for (const bool efis : {true, false}) {
    const std::string name = efis ? "conversions_connected" : "conversions_no_efis";
    const double percent = bench::ConversionsPercentOfOneCore(efis);
    bench::Report(name + "_percent_of_one_core", percent, "%");
    bench::Report(name + "_us_per_second", percent * 1e4, "us");
  }
  return true;
}
