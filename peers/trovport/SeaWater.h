#pragma once
// Sea-water physics of the simulated meter: the practical salinity scale
// (PSS-78) at atmospheric pressure, and a slowly drifting water sample.
#include <cstdint>

namespace trovport {

// Conductivity of standard sea water (S = 35, 15 °C, 0 dbar), mS/cm.
inline constexpr double StandardConductivity_mS_per_cm = 42.914;

// Temperature ratio rt(T) = C(35, T, 0) / C(35, 15, 0); T in °C (ITS-90).
double pss78TemperatureRatio(double temperature);

// Practical salinity from the conductivity ratio R = C(S, T, 0) / C(35, 15, 0).
double pss78Salinity(double conductivityRatio, double temperature);

// Inverse of pss78Salinity: the conductivity ratio of water of the given
// salinity (0 to 42) and temperature (-2 to 35 °C).
double pss78ConductivityRatio(double salinity, double temperature);

// Conductivity in S/cm of water of that salinity and temperature.
double seaWaterConductivity(double salinity, double temperature);

struct SeaWaterSample {
    double salinity;      // ppt
    double temperature;   // °C
    double compensated;   // S, referred to 25 °C
    double uncompensated; // S, at the sample's temperature
};

inline constexpr double ReferenceTemperature = 25.0;

// A beaker of sea water on the bench: the temperature wanders around room
// temperature (about 20.7 to 24.3 °C) and the salinity around 35 ppt (34.7
// to 35.3), each a slow deterministic swing plus a little noise. Readings
// are rounded as the meter shows them: 0.01 ppt, 0.01 °C, 1 µS.
class SimulatedMeter {
public:
    explicit SimulatedMeter(std::uint32_t seed);
    // The sample of the n-th set of readings since the port was opened.
    SeaWaterSample sample(std::uint64_t n) const;

private:
    std::uint32_t seed_;
    double phase_;
};

} // namespace trovport
