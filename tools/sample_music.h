// The sample disc's three audio tracks: a few seconds each of generated
// 44.1 kHz stereo music, chords, bass and hi-hat, different per track.
#pragma once

#include "sample_disc.h"

struct track_music {
    int chords[2][4];   // MIDI notes; the two chords alternate every two beats
    double bpm;
    bool mirrored;      // swaps which side the low and high chord voices sit on
    double hat_pan;     // 0 = left, 1 = right
    int sectors;        // from this track's INDEX 01 to the next one's (or the end)
};

// The span of track 2 includes track 3's INDEX 00 gap, which plays the
// ring-out of the track before it, as gaps on real discs often do.
inline constexpr track_music sample_music[3] = {
    {{{48, 55, 64, 67}, {53, 57, 60, 65}}, 120.0, false, 0.80, 450},
    {{{45, 57, 60, 64}, {43, 55, 59, 62}}, 100.0, true, 0.25, 465},
    {{{50, 57, 60, 65}, {52, 56, 59, 62}}, 140.0, false, 0.65, 330},
};

// Appends audio track i (0 to 2) as 16-bit little-endian PCM, left first,
// its peak at 70% of full scale.
void append_music_track(byte_vector& out, std::size_t i);
