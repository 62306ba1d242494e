#include "SeaWater.h"

#include <cmath>
#include <numbers>

namespace trovport {

namespace {

constexpr double a[6] = {0.0080, -0.1692, 25.3851, 14.0941, -7.0261, 2.7081};
constexpr double b[6] = {0.0005, -0.0056, -0.0066, -0.0375, 0.0636, -0.0144};
constexpr double c[5] = {0.6766097, 2.00564e-2, 1.104259e-4, -6.9698e-7, 1.0031e-9};
constexpr double k = 0.0162;

// PSS-78 is defined on the 1968 temperature scale.
double t68(double t90)
{
    return 1.00024 * t90;
}

double salinityFromRt(double rt, double t)
{
    const double x = std::sqrt(std::max(rt, 0.0));
    double sumA = 0.0;
    double sumB = 0.0;
    double power = 1.0;
    for (int i = 0; i < 6; ++i) {
        sumA += a[i] * power;
        sumB += b[i] * power;
        power *= x;
    }
    const double dt = t - 15.0;
    return sumA + dt / (1.0 + k * dt) * sumB;
}

std::uint64_t mix(std::uint64_t z)
{
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Uniform in [-1, 1], fixed by seed, set number and channel.
double noise(std::uint32_t seed, std::uint64_t n, unsigned channel)
{
    const std::uint64_t h = mix(mix(seed * 4ull + channel) ^ n);
    return double(h >> 11) / double(1ull << 52) - 1.0;
}

double roundTo(double value, double step)
{
    return std::round(value / step) * step;
}

} // namespace

double pss78TemperatureRatio(double temperature)
{
    const double t = t68(temperature);
    return c[0] + t * (c[1] + t * (c[2] + t * (c[3] + t * c[4])));
}

double pss78Salinity(double conductivityRatio, double temperature)
{
    const double t = t68(temperature);
    return salinityFromRt(conductivityRatio / pss78TemperatureRatio(temperature), t);
}

double pss78ConductivityRatio(double salinity, double temperature)
{
    // S rises steadily with Rt over the scale's range, so halving the
    // interval converges without the care Newton's method would need.
    const double t = t68(temperature);
    double low = 0.0;
    double high = 4.0;
    for (int i = 0; i < 80; ++i) {
        const double mid = 0.5 * (low + high);
        if (salinityFromRt(mid, t) < salinity)
            low = mid;
        else
            high = mid;
    }
    return 0.5 * (low + high) * pss78TemperatureRatio(temperature);
}

double seaWaterConductivity(double salinity, double temperature)
{
    return pss78ConductivityRatio(salinity, temperature) * StandardConductivity_mS_per_cm / 1000.0;
}

SimulatedMeter::SimulatedMeter(std::uint32_t seed)
    : seed_(seed), phase_(double(mix(seed) % 720u))
{
}

SeaWaterSample SimulatedMeter::sample(std::uint64_t n) const
{
    constexpr double twoPi = 2.0 * std::numbers::pi;
    const double step = double(n) + phase_;
    const double temperature = 22.5 + 1.5 * std::sin(twoPi * step / 720.0)
                               + 0.3 * std::sin(twoPi * step / 97.0) + 0.02 * noise(seed_, n, 0);
    const double salinity = 35.0 + 0.25 * std::sin(twoPi * (step + 300.0) / 1100.0)
                            + 0.01 * noise(seed_, n, 1);

    SeaWaterSample s;
    s.temperature = roundTo(temperature, 0.01);
    s.salinity = roundTo(salinity, 0.01);
    s.uncompensated = roundTo(seaWaterConductivity(s.salinity, s.temperature), 1e-6);
    s.compensated = roundTo(seaWaterConductivity(s.salinity, ReferenceTemperature), 1e-6);
    return s;
}

} // namespace trovport
