// Our drive's five noises, synthesised once from a few physical parts: the motor's hum at the
// mains-like rate of its drive electronics with the disk's 5 Hz turn riding on it, the rumble
// of the spindle (filtered noise), and the clicks of the head stepper and the head load
// solenoid (impulses through damped resonances, the ringing of the drive's metal frame). Each
// is scaled to its peak level; the same program always makes the same samples.
#include <algorithm>
#include <cmath>
#include <vector>

#include "sound/DriveSound.h"
#include "sound/SoundMix.h"

namespace vexil {

namespace {

constexpr double kRate = sound::kOutputRate;
constexpr double kPi = 3.14159265358979323846;

struct Shape {
    uint32_t length;
    int32_t peak;
};
// By DriveNoise.
constexpr Shape kShapes[kDriveNoises] = {
    {17420, 31700}, {43252, 1900}, {2211, 13300}, {13539, 17300}, {13182, 2300}};

// White noise in -1 ... 1 from a 32-bit xorshift generator.
class WhiteNoise {
public:
    explicit WhiteNoise(uint32_t seed) : state_(seed) {}
    double Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<double>(state_) / 2147483648.0 - 1.0;
    }

private:
    uint32_t state_;
};

// A damped resonance: an impulse rings at `hz` and dies away to 1/e in `decay` seconds.
class Resonator {
public:
    Resonator(double hz, double decay) {
        const double r = std::exp(-1.0 / (decay * kRate));
        a1_ = 2.0 * r * std::cos(2.0 * kPi * hz / kRate);
        a2_ = -r * r;
    }
    double Step(double in) {
        const double y = in + a1_ * y1_ + a2_ * y2_;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

private:
    double a1_, a2_, y1_ = 0, y2_ = 0;
};

// One click of the drive's mechanics: rings of the frame at a few pitches over a short burst
// of noise, added into `wave` from sample `at`.
struct Ring {
    double hz, decay, level;
};
void AddClick(std::vector<double>& wave, size_t at, double level, const std::vector<Ring>& rings,
              double burstDecay, WhiteNoise& noise) {
    std::vector<Resonator> resonators;
    for (const Ring& ring : rings) resonators.emplace_back(ring.hz, ring.decay);
    const size_t length =
        std::min(wave.size() - std::min(at, wave.size()), static_cast<size_t>(0.08 * kRate));
    for (size_t n = 0; n < length; ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double impulse = n == 0 ? 1.0 : 0.0;
        double v = 0;
        for (size_t r = 0; r < resonators.size(); ++r) v += rings[r].level * resonators[r].Step(impulse);
        v += 0.4 * noise.Next() * std::exp(-t / burstDecay);
        wave[at + n] += level * v;
    }
}

// The motor's hum at a fundamental of `hz`, with its overtones.
double Hum(double phase) {
    return std::sin(phase) + 0.5 * std::sin(2 * phase + 0.7) + 0.25 * std::sin(3 * phase + 1.3) +
           0.15 * std::sin(6 * phase + 0.4);
}

// Spindle rumble: white noise through a one-pole low-pass. Run twice round the buffer, so
// that, as a loop, its end runs on into its start.
std::vector<double> Rumble(size_t length, uint32_t seed, double smoothing) {
    WhiteNoise noise(seed);
    std::vector<double> white(length), out(length);
    for (double& v : white) v = noise.Next();
    double y = 0;
    for (int pass = 0; pass < 2; ++pass)
        for (size_t n = 0; n < length; ++n) {
            y += smoothing * (white[n] - y);
            out[n] = y;
        }
    return out;
}

// Scales the wave so that its largest magnitude is `peak` and fades the last `fadeSamples`
// out, so that a noise ends in silence.
std::vector<int16_t> Scaled(std::vector<double> wave, int32_t peak, size_t fadeSamples = 0) {
    fadeSamples = std::min(fadeSamples, wave.size());
    for (size_t n = 0; n < fadeSamples; ++n)
        wave[wave.size() - 1 - n] *= static_cast<double>(n) / static_cast<double>(fadeSamples);
    double largest = 0;
    for (double v : wave) largest = std::max(largest, std::fabs(v));
    const double scale = largest > 0 ? peak / largest : 0;
    std::vector<int16_t> out(wave.size());
    for (size_t n = 0; n < wave.size(); ++n)
        out[n] = static_cast<int16_t>(std::clamp(std::lround(wave[n] * scale), -32768L, 32767L));
    return out;
}

// The running motor: whole cycles of everything fit the loop, so it repeats without a seam.
std::vector<double> Running(size_t length) {
    const std::vector<double> rumble = Rumble(length, 0x1F2E3D4Cu, 0.12);
    std::vector<double> wave(length);
    for (size_t n = 0; n < length; ++n) {
        const double turn = 2.0 * kPi * static_cast<double>(n) / static_cast<double>(length);
        const double flutter = 1.0 + 0.25 * std::sin(5 * turn);  // the disk's turns, about 5 Hz
        wave[n] = flutter * (Hum(49 * turn) + 0.9 * rumble[n] + 0.05 * std::sin(1177 * turn));
    }
    return wave;
}

// The head load solenoid's clunk, then the motor spinning up to its running hum and level.
std::vector<int16_t> MotorStart(const Shape& shape, int32_t runningPeak) {
    WhiteNoise noise(0x5EED0001u);
    std::vector<double> clunk(shape.length, 0.0);
    AddClick(clunk, 0, 1.0, {{140, 0.025, 1.0}, {420, 0.010, 0.8}, {1800, 0.003, 0.5}}, 0.008, noise);
    std::vector<int16_t> loud = Scaled(clunk, shape.peak);

    const std::vector<double> rumble = Rumble(shape.length, 0x5EED0002u, 0.12);
    std::vector<double> spin(shape.length, 0.0);
    const double start = 0.03 * kRate;
    double phase = 0;
    for (size_t n = 0; n < shape.length; ++n) {
        const double p = std::max(0.0, (static_cast<double>(n) - start) / (shape.length - start));
        phase += 2.0 * kPi * 50.0 * (0.3 + 0.7 * std::sqrt(p)) / kRate;
        spin[n] = p * (Hum(phase) + 0.9 * rumble[n]);
    }
    const std::vector<int16_t> quiet = Scaled(spin, runningPeak);
    std::vector<double> sum(shape.length);
    for (size_t n = 0; n < shape.length; ++n) sum[n] = loud[n] + quiet[n];
    return Scaled(sum, shape.peak);
}

// A step: the stepper's click and, a few milliseconds later, the head settling.
std::vector<int16_t> Step(const Shape& shape) {
    WhiteNoise noise(0x5EED0003u);
    std::vector<double> wave(shape.length, 0.0);
    const std::vector<Ring> rings = {{950, 0.006, 1.0}, {2400, 0.0025, 0.7}, {300, 0.012, 0.5}};
    AddClick(wave, 0, 1.0, rings, 0.0015, noise);
    AddClick(wave, static_cast<size_t>(0.009 * kRate), 0.35, rings, 0.0015, noise);
    return Scaled(wave, shape.peak, static_cast<size_t>(0.005 * kRate));
}

// A seek: a step every 3 ms, the buzz of the head travelling, and the clack where it stops.
std::vector<int16_t> Seek(const Shape& shape) {
    WhiteNoise noise(0x5EED0004u);
    std::vector<double> wave(shape.length, 0.0);
    const std::vector<Ring> rings = {{1100, 0.002, 1.0}, {2600, 0.001, 0.6}, {350, 0.006, 0.5}};
    const size_t interval = static_cast<size_t>(0.003 * kRate);
    const size_t stop = shape.length - static_cast<size_t>(0.04 * kRate);
    for (size_t at = 0; at < stop; at += interval) {
        const double rise = std::min(1.0, static_cast<double>(at) / (0.015 * kRate));
        AddClick(wave, at, (0.5 + 0.3 * rise) * (1.0 + 0.1 * noise.Next()), rings, 0.0008, noise);
    }
    AddClick(wave, stop, 1.4, {{950, 0.006, 1.0}, {2400, 0.0025, 0.7}, {300, 0.012, 0.5}}, 0.0015, noise);
    return Scaled(wave, shape.peak, static_cast<size_t>(0.005 * kRate));
}

// The head unloading, and the motor's hum running down in pitch and level to silence.
std::vector<int16_t> MotorStop(const Shape& shape) {
    WhiteNoise noise(0x5EED0005u);
    std::vector<double> wave(shape.length, 0.0);
    AddClick(wave, 0, 1.6, {{200, 0.015, 1.0}, {700, 0.004, 0.4}}, 0.004, noise);
    const std::vector<double> rumble = Rumble(shape.length, 0x5EED0006u, 0.12);
    double phase = 0;
    for (size_t n = 0; n < shape.length; ++n) {
        const double p = static_cast<double>(n) / shape.length;
        phase += 2.0 * kPi * 50.0 * (1.0 - 0.6 * p) / kRate;
        wave[n] += std::pow(1.0 - p, 1.5) * (Hum(phase) + 0.9 * rumble[n]);
    }
    return Scaled(wave, shape.peak, static_cast<size_t>(0.01 * kRate));
}

struct Bank {
    std::vector<int16_t> noises[kDriveNoises];
    DriveRecordingSet set;
    Bank() {
        const auto shape = [](DriveNoise noise) { return kShapes[static_cast<int>(noise)]; };
        noises[static_cast<int>(DriveNoise::kMotorRunning)] =
            Scaled(Running(shape(DriveNoise::kMotorRunning).length), shape(DriveNoise::kMotorRunning).peak);
        noises[static_cast<int>(DriveNoise::kMotorStart)] =
            MotorStart(shape(DriveNoise::kMotorStart), shape(DriveNoise::kMotorRunning).peak);
        noises[static_cast<int>(DriveNoise::kStep)] = Step(shape(DriveNoise::kStep));
        noises[static_cast<int>(DriveNoise::kSeek)] = Seek(shape(DriveNoise::kSeek));
        noises[static_cast<int>(DriveNoise::kMotorStop)] = MotorStop(shape(DriveNoise::kMotorStop));
        for (int i = 0; i < kDriveNoises; ++i)
            set[static_cast<size_t>(i)] = {noises[i].data(), static_cast<uint32_t>(noises[i].size())};
    }
};

}  // namespace

const DriveRecordingSet& DriveRecordings() {
    static const Bank bank;
    return bank.set;
}

}  // namespace vexil
