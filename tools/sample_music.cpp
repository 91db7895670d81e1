#include "sample_music.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double two_pi = 2.0 * std::numbers::pi;

double note_hz(int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

// A few harmonics of falling strength, so no voice is a bare sine.
double harmonic_tone(double hz, double t)
{
    const double phase = two_pi * hz * t;
    return std::sin(phase) + 0.5 * std::sin(2 * phase) + 0.25 * std::sin(3 * phase) + 0.12 * std::sin(4 * phase);
}

// Plucked shape: quick attack, decay to a sustain level, and a short release
// before the next chord so the change of pitch does not click.
double chord_envelope(double t, double span)
{
    const double attack = std::min(1.0, t / 0.01);
    const double release = std::min(1.0, (span - t) / 0.02);
    return attack * release * (0.5 + 0.5 * std::exp(-3.0 * t));
}

struct stereo_sample {
    double left = 0, right = 0;
};

// Equal-power panning; pan 0 is left, 1 is right.
void add_panned(stereo_sample& out, double value, double pan)
{
    out.left += value * std::cos(pan * std::numbers::pi / 2);
    out.right += value * std::sin(pan * std::numbers::pi / 2);
}

// Overall loudness: fade in, slow swell, accent on each bar's first beat and
// a fade down (not to silence) towards the end.
double loudness(double t, double length, double beat)
{
    const double fade_in = std::min(1.0, t / 0.4);
    const double fade_out = 0.3 + 0.7 * std::min(1.0, (length - t) / 1.5);
    const double swell = 0.85 + 0.15 * std::sin(two_pi * t / 3.0);
    const double accent = 1.0 + 0.4 * std::exp(-6.0 * std::fmod(t, 4 * beat));
    return fade_in * fade_out * swell * accent;
}

// Interleaved left/right samples in [-1, 1] before scaling.
std::vector<double> render_music(const track_music& music, std::uint64_t seed)
{
    const std::size_t frames = static_cast<std::size_t>(music.sectors) * frames_per_sector;
    const double length = static_cast<double>(frames) / sample_rate;
    const double beat = 60.0 / music.bpm;
    std::vector<double> out;
    out.reserve(2 * frames);
    double noise_low = 0;   // one-pole low-pass state; noise minus it is the hi-hat
    for (std::size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / sample_rate;
        const auto& chord = music.chords[static_cast<int>(t / (2 * beat)) % 2];
        const double env = chord_envelope(std::fmod(t, 2 * beat), 2 * beat);
        stereo_sample s;
        for (int v = 0; v < 4; ++v) {
            const double pan = 0.05 + 0.9 * v / 3.0;
            const double tone = harmonic_tone(note_hz(chord[v]), t);
            add_panned(s, 0.2 * env * tone, music.mirrored ? 1.0 - pan : pan);
        }
        add_panned(s, 0.3 * env * std::sin(two_pi * note_hz(chord[0] - 12) * t), 0.4);
        const double noise = random_unit(seed);
        noise_low += 0.25 * (noise - noise_low);
        const bool offbeat = static_cast<int>(t / (beat / 2)) % 2 == 1;
        const double hat = (noise - noise_low) * std::exp(-60.0 * std::fmod(t, beat / 2));
        add_panned(s, (offbeat ? 0.25 : 0.12) * hat, music.hat_pan);
        const double gain = loudness(t, length, beat);
        out.push_back(s.left * gain);
        out.push_back(s.right * gain);
    }
    return out;
}

void append_pcm(byte_vector& out, const std::vector<double>& samples)
{
    double peak = 0;
    for (double x : samples)
        peak = std::max(peak, std::fabs(x));
    const double scale = 0.7 * 32767.0 / peak;
    for (double x : samples) {
        const auto sample = static_cast<std::int16_t>(std::lround(x * scale));
        const auto value = static_cast<std::uint16_t>(sample);
        out.push_back(static_cast<std::uint8_t>(value & 0xFFU));
        out.push_back(static_cast<std::uint8_t>(value >> 8));
    }
}

} // namespace

void append_music_track(byte_vector& out, std::size_t i)
{
    append_pcm(out, render_music(sample_music[i], 0xA0D10 + i));
}
