// A light twin reduced to what the bridge shows: roll and pitch that answer the controls with a
// short lag, a coordinated turn, a flight path from pitch less the angle of attack, airspeed from
// power, drag and climb, a steady wind, and two engines that follow the power. The numbers are
// chosen for a believable picture at 100 kt, not taken from any real aircraft.
#include "standins/sim/sim_flight.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "standins/common/flight_math.h"
#include "standins/sim/sim_space.h"

namespace sim {

namespace {

using standins::Clamp;
using standins::Wrap180;
using standins::Wrap360;

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180;
constexpr double kG = 9.80665;
constexpr double kKnot = 1852.0 / 3600;   // m/s
constexpr double kFoot = 0.3048;          // m
constexpr double kEarthRadius = 6371000;  // m
constexpr double kFullInput = 16383;
constexpr double kVariationDeg = 2.0;          // east: true = magnetic + 2
constexpr std::int16_t kVariationUnits = 364;  // 2 degrees in 1/182 degree
constexpr double kWindFromDeg = 300, kWindKt = 12;

// Roll: full aileron rolls at 50 deg/s; the dihedral rolls back 0.4 deg/s per degree of bank, so
// holding a bank takes some aileron into it.
constexpr double kRollRateFull = 50, kRollBack = 0.4, kRollLagS = 0.25;
// Pitch settles at 40 degrees per full elevator, less what a bank drops the nose; level cruise
// at 100 kt takes about 15 % back pressure.
constexpr double kPitchPerElevator = 40, kElevatorTrim = 0.08, kBankDrop = 30, kPitchRate = 1.5;
constexpr double kAlphaCruise = 2.7, kCruiseIas = 100 * kKnot;
// Speed: thrust per unit power against a drag that balances 75 % power at 100 kt.
constexpr double kThrustFull = 1.6;  // m/s2
constexpr double kDragFactor = kThrustFull * 0.75 / (kCruiseIas * kCruiseIas);

// Offsets of the simulator's values (the bridge's table, and the controls).
enum : std::uint32_t {
  kPitch = 0x2F70,
  kBank = 0x2F78,
  kTurnRate = 0x037C,
  kSlipBall = 0x036E,
  kCompass = 0x02CC,
  kGyro = 0x2B00,
  kLoadFactor = 0x11BA,
  kVariation = 0x02A0,
  kLatitude = 0x6010,
  kLongitude = 0x6018,
  kGpsAltitude = 0x6020,
  kGroundSpeed = 0x6030,
  kTrack = 0x0580,
  kAltitude = 0x0574,
  kIas = 0x02BC,
  kVerticalSpeed = 0x02C8,
  kOutsideAir = 0x0E8C,
  kStaticPressure = 0x28C8,
  kSensor20 = 0x2840,
  kSensor22 = 0x2848,
  kQnh = 0x0330,
  kAileron = 0x0BB6,
  kElevator = 0x0BB2,
  kDisconnect = 0x310A,
};

struct EngineOffsets {
  std::uint32_t speed, scaler, manifold, exhaust, fuelFlow, oilTemp, oilPressure, cylinderHead;
};
constexpr EngineOffsets kEngines[2] = {
    {0x0898, 0x08C8, 0x08C0, 0x08E8, 0x0918, 0x3B58, 0x3B60, 0x3B70},
    {0x0930, 0x0960, 0x0958, 0x0980, 0x09B0, 0x3A98, 0x3AA0, 0x3AB0},
};

struct Engine {
  double rpm, exhaustC, cylinderHeadC, oilC;
};

struct Flight {
  FlightStart start;
  double time;
  double carry;                  // seconds not yet integrated
  double bank, rollRate, pitch;  // degrees, degrees/s
  double trueHeading;            // degrees
  double latitude, longitude;    // degrees
  double height;                 // m
  double tas;                    // m/s
  double verticalSpeed;          // m/s
  double power;
  Engine engines[2];
  std::int16_t aileron, elevator;
  std::uint8_t disconnect;
  double disconnectAge;
  bool qnhChanged;
  double nextQnhStepS;
  bool qnhStepsUp;
};

Flight State;

// The standard atmosphere below 11 km: density ratio and static pressure in hPa.
double DensityRatio(double height) {
  return std::pow(1 - 2.25577e-5 * height, 4.25588);
}
double StaticPressureHpa(double height) {
  return 1013.25 * std::pow(1 - 2.25577e-5 * height, 5.25588);
}

double Ias(const Flight& f) {
  return f.tas * std::sqrt(DensityRatio(f.height));
}

double LoadFactor(const Flight& f) {
  return 1 / std::cos(f.bank * kDeg);
}

double AngleOfAttack(const Flight& f) {
  const double ias = Ias(f) > 20 ? Ias(f) : 20;
  return kAlphaCruise * (kCruiseIas / ias) * (kCruiseIas / ias) * LoadFactor(f);
}

std::int16_t Input(double fraction) {
  return static_cast<std::int16_t>(std::lround(Clamp(fraction, -1, 1) * kFullInput));
}

// What the built-in pilot wants: a bank and an altitude.
void PilotTargets(const Flight& f, double* bank, double* altitudeFt) {
  if (f.start.pilot == PilotMode::Hold) {
    *bank = f.start.bankDeg;
    *altitudeFt = f.start.altitudeFt;
    return;
  }
  // Right 60, right 60, left 60, left 60: one leg every 30 s; 500 ft up and down every 60 s.
  static constexpr double kLegs[4] = {60, 120, 60, 0};
  const long leg = static_cast<long>(f.time / 30) % 4;
  const double wanted = f.start.headingDeg + kLegs[leg];
  const double error = Wrap180(wanted - (f.trueHeading - kVariationDeg));
  *bank = Clamp(1.2 * error, -15, 15);
  *altitudeFt = f.start.altitudeFt + (static_cast<long>(f.time / 60) % 2 == 1 ? 500 : 0);
}

// The built-in pilot flies smoothly and knows the aircraft: it asks for a roll rate and a climb
// and puts in the inputs that give them.
void PilotInputs(Flight& f, double* aileron, double* elevator, double dt) {
  double bank, altitudeFt;
  PilotTargets(f, &bank, &altitudeFt);
  const double rollRate = Clamp(0.8 * (bank - f.bank), -8, 8);
  *aileron = Clamp((rollRate + kRollBack * f.bank) / kRollRateFull, -0.6, 0.6);

  const double climbFpm = Clamp(3 * (altitudeFt - f.height / kFoot), -500, 500);
  const double climb = Clamp(climbFpm * kFoot / 60 / f.tas, -0.2, 0.2);
  const double pitch = AngleOfAttack(f) + std::asin(climb) / kDeg;
  *elevator = kElevatorTrim + (pitch + kBankDrop * (LoadFactor(f) - 1)) / kPitchPerElevator +
              0.02 * (pitch - f.pitch);

  const double power = Clamp(0.75 + 0.25 * climbFpm / 500, 0.45, 1.0);
  f.power += Clamp(power - f.power, -0.1 * dt, 0.1 * dt);
}

void TakeControls(Flight& f, double dt) {
  double aileron, elevator;
  PilotInputs(f, &aileron, &elevator, dt);
  if (f.disconnect != 0) {
    f.disconnectAge += dt;
    if (f.disconnectAge >= kDisconnectLapseS) {
      f.disconnect = 0;
      SpacePutU8(kDisconnect, 0);
    }
  }
  if (f.disconnect & kDisconnectAileron) {
    f.aileron = static_cast<std::int16_t>(SpaceGetU16(kAileron));
  } else {
    f.aileron = Input(aileron);
    SpacePutU16(kAileron, static_cast<std::uint16_t>(f.aileron));
  }
  if (f.disconnect & kDisconnectElevator) {
    f.elevator = static_cast<std::int16_t>(SpaceGetU16(kElevator));
  } else {
    f.elevator = Input(elevator);
    SpacePutU16(kElevator, static_cast<std::uint16_t>(f.elevator));
  }
}

void StepEngines(Flight& f, double dt) {
  for (int i = 0; i < 2; ++i) {
    Engine& e = f.engines[i];
    const double spread = i == 0 ? 0 : 1;  // the right engine runs a little cooler and slower
    const double lag = dt / 20;
    e.rpm = 2100 + 600 * f.power - 10 * spread;
    e.exhaustC += (600 + 150 * f.power - 5 * spread - e.exhaustC) * lag;
    e.cylinderHeadC += (150 + 60 * f.power - 3 * spread - e.cylinderHeadC) * lag;
    e.oilC += (75 + 20 * f.power - 2 * spread - e.oilC) * lag;
  }
}

// Over the ground in m/s, north and east: the air's path (`path` radians up from level) at
// the true heading, and the wind.
void GroundVelocity(const Flight& f, double path, double* north, double* east) {
  const double windTo = (kWindFromDeg + 180) * kDeg;
  const double horizontal = f.tas * std::cos(path);
  *north = horizontal * std::cos(f.trueHeading * kDeg) + kWindKt * kKnot * std::cos(windTo);
  *east = horizontal * std::sin(f.trueHeading * kDeg) + kWindKt * kKnot * std::sin(windTo);
}

void Step(Flight& f, double dt) {
  TakeControls(f, dt);
  const double aileron = f.aileron / kFullInput, elevator = f.elevator / kFullInput;

  const double steadyRate = kRollRateFull * aileron - kRollBack * f.bank;
  f.rollRate += (steadyRate - f.rollRate) * dt / kRollLagS;
  f.bank = Clamp(f.bank + f.rollRate * dt, -80, 80);

  const double steadyPitch =
      kPitchPerElevator * (elevator - kElevatorTrim) - kBankDrop * (LoadFactor(f) - 1);
  f.pitch = Clamp(f.pitch + kPitchRate * (steadyPitch - f.pitch) * dt, -30, 30);

  const double path = (f.pitch - AngleOfAttack(f)) * kDeg;
  f.verticalSpeed = f.tas * std::sin(path);
  const double ias = Ias(f);
  const double drag = kDragFactor * ias * ias * (1 + 0.5 * (LoadFactor(f) * LoadFactor(f) - 1));
  f.tas = Clamp(f.tas + (kThrustFull * f.power - drag - kG * std::sin(path)) * dt, 25, 110);
  f.height = Clamp(f.height + f.verticalSpeed * dt, 0, 6000);

  f.trueHeading = Wrap360(f.trueHeading + kG * std::tan(f.bank * kDeg) / f.tas * dt / kDeg);
  double north, east;
  GroundVelocity(f, path, &north, &east);
  f.latitude += north * dt / kEarthRadius / kDeg;
  f.longitude += east * dt / (kEarthRadius * std::cos(f.latitude * kDeg)) / kDeg;

  StepEngines(f, dt);
  f.time += dt;
}

double GroundSpeed(const Flight& f, double* trackDeg) {
  double north, east;
  GroundVelocity(f, (f.pitch - AngleOfAttack(f)) * kDeg, &north, &east);
  *trackDeg = Wrap360(std::atan2(east, north) / kDeg);
  return std::sqrt(north * north + east * east);
}

void PutS16(std::uint32_t offset, double value) {
  SpacePutU16(offset, static_cast<std::uint16_t>(
                          static_cast<std::int16_t>(std::lround(Clamp(value, -32768, 32767)))));
}

void PutS32(std::uint32_t offset, double value) {
  SpacePutU32(offset, static_cast<std::uint32_t>(static_cast<std::int32_t>(value)));
}

constexpr double RankineOf(double celsius) {
  return (celsius + 273.15) * 1.8;
}

// Every value in the unit the bridge's conversion of that offset assumes.
void Publish(const Flight& f) {
  const double magnetic = Wrap360(f.trueHeading - kVariationDeg);
  SpacePutDouble(kPitch, -f.pitch);  // nose down positive
  SpacePutDouble(kBank, f.bank);     // right wing down positive
  const double turnRate = kG * std::tan(f.bank * kDeg) / f.tas / kDeg;
  PutS16(kTurnRate, turnRate / 3 * 512);  // 512: a standard-rate turn, 3 deg/s
  SpacePutU8(kSlipBall, static_cast<std::uint8_t>(static_cast<std::int8_t>(
                            std::lround(Clamp(-2 * f.rollRate, -127, 127)))));  // adverse yaw
  SpacePutDouble(kCompass, magnetic);
  SpacePutDouble(kGyro, magnetic);
  PutS16(kLoadFactor, 624 * LoadFactor(f));  // 1/624 g
  SpacePutU16(kVariation, static_cast<std::uint16_t>(kVariationUnits));

  double track;
  const double groundSpeed = GroundSpeed(f, &track);
  SpacePutDouble(kLatitude, f.latitude);
  SpacePutDouble(kLongitude, f.longitude);
  SpacePutDouble(kGpsAltitude, f.height);     // metres
  SpacePutDouble(kGroundSpeed, groundSpeed);  // m/s
  SpacePutU32(kTrack,
              static_cast<std::uint32_t>(std::fmod(track / 360 * 4294967296.0, 4294967296.0)));

  PutS32(kAltitude, f.height);                                 // whole metres
  PutS32(kIas, std::lround(Ias(f) / kKnot * 128));             // 1/128 kt
  PutS32(kVerticalSpeed, std::lround(f.verticalSpeed * 256));  // 1/256 m/s
  PutS16(kOutsideAir, (15 - 0.0065 * f.height + 3) * 256);     // ISA + 3, 1/256 C
  SpacePutDouble(kStaticPressure, StaticPressureHpa(f.height) * 100 / 47.880259);  // lb/ft2
  SpacePutDouble(kSensor20, 12.0);
  SpacePutDouble(kSensor22, 5.0);

  for (int i = 0; i < 2; ++i) {
    const EngineOffsets& at = kEngines[i];
    const Engine& e = f.engines[i];
    SpacePutU16(at.scaler, 16384);
    SpacePutU16(at.speed, static_cast<std::uint16_t>(std::lround(e.rpm * 4)));  // x 16384 >> 16
    const double manifoldInHg = (0.3 + 0.7 * f.power) * StaticPressureHpa(f.height) / 33.86389;
    SpacePutU16(at.manifold, static_cast<std::uint16_t>(std::lround(manifoldInHg * 1024)));
    SpacePutDouble(at.exhaust, e.exhaustC * 1.8 + 34);  // the bridge takes (x - 34) / 1.8
    SpacePutDouble(at.fuelFlow, 30 + 50 * f.power);     // lb/h
    SpacePutDouble(at.oilTemp, RankineOf(e.oilC));
    SpacePutDouble(at.oilPressure, (4 + f.power) * 100000 / 47.880259);  // bar in lb/ft2
    SpacePutDouble(at.cylinderHead, RankineOf(e.cylinderHeadC));
  }
}

std::uint16_t QnhUnits(double hpa) {
  return static_cast<std::uint16_t>(std::lround(hpa * 16));
}

}  // namespace

void BeginFlight(const FlightStart& start, std::uint32_t version, std::uint16_t simId) {
  ClearSpace();
  PutModuleIdentity(version, simId);
  Flight& f = State;
  f = Flight{};
  f.start = start;
  f.qnhStepsUp = true;
  f.bank = start.bankDeg;
  f.trueHeading = Wrap360(start.headingDeg + kVariationDeg);
  f.latitude = start.latitudeDeg;
  f.longitude = start.longitudeDeg;
  f.height = start.altitudeFt * kFoot;
  f.tas = start.airspeedKt * kKnot / std::sqrt(DensityRatio(f.height));
  f.pitch = AngleOfAttack(f);
  f.power = 0.75;
  for (Engine& e : f.engines) e = {2550, 712, 195, 90};
  StepEngines(f, 0);
  SpacePutU16(kQnh, QnhUnits(start.qnhHpa));
  SpacePutU8(kDisconnect, 0);
  double aileron, elevator;
  PilotInputs(f, &aileron, &elevator, 0);
  f.aileron = Input(aileron);
  f.elevator = Input(elevator);
  SpacePutU16(kAileron, static_cast<std::uint16_t>(f.aileron));
  SpacePutU16(kElevator, static_cast<std::uint16_t>(f.elevator));
  Publish(f);
}

void FlightClientWrote(std::uint32_t offset, std::uint32_t size) {
  if (offset > kDisconnect || std::uint64_t{offset} + size <= kDisconnect) return;
  std::uint8_t byte;
  SpaceRead(kDisconnect, 1, &byte);
  State.disconnect = byte & (kDisconnectAileron | kDisconnectElevator);
  State.disconnectAge = 0;
}

void AdvanceFlight(double seconds) {
  Flight& f = State;
  if (!(seconds > 0)) return;
  f.carry += seconds;
  while (f.carry >= kFlightStepS) {
    f.carry -= kFlightStepS;
    if (!f.qnhChanged && f.start.qnhChangeAtS >= 0 && f.time >= f.start.qnhChangeAtS) {
      f.qnhChanged = true;
      SpacePutU16(kQnh, QnhUnits(f.start.qnhChangeHpa));
    }
    if (f.start.qnhEveryS > 0 && f.time >= f.nextQnhStepS + f.start.qnhEveryS) {
      // From whatever the setting is now (a client may have written its own): always a change.
      f.nextQnhStepS += f.start.qnhEveryS;
      const int step = f.qnhStepsUp ? 16 : -16;
      f.qnhStepsUp = !f.qnhStepsUp;
      SpacePutU16(kQnh, static_cast<std::uint16_t>(SpaceGetU16(kQnh) + step));
    }
    Step(f, kFlightStepS);
  }
  Publish(f);
}

double FlightTimeS() {
  return State.time;
}

FlightView ViewFlight() {
  const Flight& f = State;
  FlightView v{};
  v.timeS = f.time;
  v.bankDeg = f.bank;
  v.pitchDeg = f.pitch;
  v.rollRateDegS = f.rollRate;
  v.headingDeg = Wrap360(f.trueHeading - kVariationDeg);
  v.groundSpeedKt = GroundSpeed(f, &v.trackDeg) / kKnot;
  v.altitudeFt = f.height / kFoot;
  v.verticalSpeedFpm = f.verticalSpeed / kFoot * 60;
  v.iasKt = Ias(f) / kKnot;
  v.latitudeDeg = f.latitude;
  v.longitudeDeg = f.longitude;
  v.power = f.power;
  v.aileron = f.aileron;
  v.elevator = f.elevator;
  v.disconnect = f.disconnect;
  v.qnh = SpaceGetU16(kQnh);
  v.rpm = static_cast<int>(std::lround(f.engines[0].rpm));
  return v;
}

void FormatFlight(const FlightView& v, char* text, std::size_t textSize) {
  std::snprintf(text, textSize,
                "flight t=%.2f bank=%+.1f pitch=%+.1f hdg=%05.1f trk=%05.1f alt=%.0f vs=%+.0f "
                "ias=%.1f gs=%.1f pos=%.5f,%.5f rpm=%d qnh=%u disconnect=%u aileron=%d "
                "elevator=%d",
                v.timeS, v.bankDeg, v.pitchDeg, v.headingDeg, v.trackDeg, v.altitudeFt,
                v.verticalSpeedFpm, v.iasKt, v.groundSpeedKt, v.latitudeDeg, v.longitudeDeg, v.rpm,
                v.qnh, v.disconnect, v.aileron, v.elevator);
}

}  // namespace sim
