// korvan-sim's flight model: a light twin flown either by a built-in pilot or, while a client
// holds the control disconnect at 0x310A, by the aileron and elevator values the client writes
// to 0x0BB6 and 0x0BB2. It keeps every offset the bridge reads in the offset space
// (sim_space.h), in the unit the bridge's conversions assume. Portable: no clock of its own,
// the caller says how much time has passed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

// What the built-in pilot does while the controls are its own.
enum class PilotMode {
  Tour,  // gentle turns and climbs: a new heading every 30 s, 500 ft up or down every 60 s
  Hold,  // holds the bank and altitude it started with
};

struct FlightStart {
  double bankDeg = 0;      // right wing down positive
  double headingDeg = 90;  // magnetic
  double altitudeFt = 3000;
  double airspeedKt = 100;  // indicated
  double qnhHpa = 1013.2;
  double latitudeDeg = 52.3086;
  double longitudeDeg = 4.7639;
  PilotMode pilot = PilotMode::Tour;
  double qnhChangeAtS = -1;  // >= 0: the simulator's QNH becomes qnhChangeHpa then
  double qnhChangeHpa = 0;
  double qnhEveryS = 0;  // > 0: every that many seconds the QNH steps 1 hPa, up and down in turn
};

inline constexpr double kFlightStepS = 0.02;     // 50 Hz
inline constexpr double kDisconnectLapseS = 10;  // a disconnect not written again lapses

// The disconnect byte's bits: elevator and aileron (the bridge writes both).
inline constexpr std::uint8_t kDisconnectElevator = 1;
inline constexpr std::uint8_t kDisconnectAileron = 2;

// Loads the handshake values and the start state into the space, as LoadFixedState does for
// the fixed one.
void BeginFlight(const FlightStart& start, std::uint32_t version, std::uint16_t simId);

// A client wrote `size` bytes at `offset` (called for each write record after it was applied):
// a write to 0x310A renews or cancels the disconnect.
void FlightClientWrote(std::uint32_t offset, std::uint32_t size);

// Integrates `seconds` more of flight in steps of kFlightStepS (a remainder is carried to the
// next call) and stores the results in the space.
void AdvanceFlight(double seconds);
// Seconds flown since BeginFlight.
double FlightTimeS();

// The model's own view, for its status line and the tests.
struct FlightView {
  double timeS;
  double bankDeg, pitchDeg, rollRateDegS;
  double headingDeg;  // magnetic
  double trackDeg;    // true, over the ground
  double altitudeFt, verticalSpeedFpm;
  double iasKt, groundSpeedKt;
  double latitudeDeg, longitudeDeg;
  double power;                    // 0..1
  std::int16_t aileron, elevator;  // the inputs that flew the last step
  std::uint8_t disconnect;         // the byte at 0x310A as the model honours it
  std::uint16_t qnh;               // 0x0330, 1/16 hPa
  int rpm;
};
FlightView ViewFlight();

// "flight t=12.34 bank=+24.9 ...": one line, key=value, no line end.
void FormatFlight(const FlightView& view, char* text, std::size_t textSize);

}  // namespace sim
