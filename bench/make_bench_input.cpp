// Makes the deterministic inputs of the benchmarks in bench/ (same bytes on
// every run and machine with the same compiler and C library).
//
//   make_bench_input data SECTORS BIN [ISO]
//       SECTORS raw 2352-byte MODE1 sectors: sync, BCD header, 2048 bytes of
//       pseudo-random user data (no zero byte), pseudo-random EDC/ECC area
//       (not valid ECC). With ISO, also writes the 2048 user-data bytes of
//       each sector there: the expected .iso.
//   make_bench_input audio SECONDS BIN
//       SECONDS of music-like 44100 Hz stereo 16-bit little-endian PCM:
//       notes of harmonics with attack/decay envelopes, panned, over a bass
//       line and a little noise. SECONDS * 75 sectors, so it is whole sectors.
//   make_bench_input mixed BIN CUE
//       A mixed-mode disc as one BIN and its sheet (FILE names BIN's base
//       name): track 1 MODE1/2352 data, 21260 sectors (50 MB), then 12 AUDIO
//       tracks of 1 to 6 minutes (40:06 in all) in a fixed shuffled order,
//       the first after a PREGAP of 2 seconds. Each audio track is the music
//       above from its own seed.
//   make_bench_input mixed_audio BIN CUE
//       The mixed disc's 12 AUDIO tracks alone (40:06), the same music.
//   make_bench_input many BIN CUE
//       A 99-track disc the same way: 750 data sectors (10 s), then 98 AUDIO
//       tracks of 2 to 6 seconds each.
//   make_bench_input small BIN CUE
//       A small disc the same way, one of a library: 892 data sectors
//       (2 MB of BIN), then two AUDIO tracks of 10 seconds each.
//   make_bench_input album BIN CUE
//       An audio CD the same way: 10 AUDIO tracks of 2:20 to 5:30, 40:20 in
//       all (427 MB), each the music above from its own seed.
//   make_bench_input mixed-album BIN CUE
//       The mixed disc's 12 AUDIO tracks without its data track, 40:06.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct rng {
    std::uint64_t state;
    std::uint64_t next()
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1DULL;
    }
    double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
};

unsigned char bcd(int value) { return static_cast<unsigned char>((value / 10) << 4 | (value % 10)); }

bool write_all(std::FILE* file, const void* data, std::size_t size)
{
    return std::fwrite(data, 1, size, file) == size;
}

// Writes `sectors` raw MODE1 sectors to bin (and their user data to iso, if
// not null), the first with header address first_lba, from the generator's
// state `random`.
bool write_data_sectors(std::FILE* bin, std::FILE* iso, long sectors, long first_lba, rng& random)
{
    constexpr int batch = 512;
    std::vector<unsigned char> raw(static_cast<std::size_t>(batch) * 2352);
    std::vector<unsigned char> user(static_cast<std::size_t>(batch) * 2048);
    for (long first = 0; first < sectors; first += batch) {
        const long count = sectors - first < batch ? sectors - first : batch;
        for (long i = 0; i < count; ++i) {
            unsigned char* s = raw.data() + i * 2352;
            s[0] = 0;
            std::memset(s + 1, 0xFF, 10);
            s[11] = 0;
            const long lba = first + i + first_lba;
            s[12] = bcd(static_cast<int>(lba / 4500));
            s[13] = bcd(static_cast<int>(lba / 75 % 60));
            s[14] = bcd(static_cast<int>(lba % 75));
            s[15] = 1;
            for (int k = 16; k < 2352; k += 8) {
                std::uint64_t word = random.next();
                for (int b = 0; b < 8; ++b, word >>= 8) {
                    const auto byte = static_cast<unsigned char>(word);
                    s[k + b] = byte == 0 ? 0x5A : byte;   // no zero byte anywhere in the payload
                }
            }
            std::memcpy(user.data() + i * 2048, s + 16, 2048);
        }
        if (!write_all(bin, raw.data(), static_cast<std::size_t>(count) * 2352) ||
            (iso != nullptr && !write_all(iso, user.data(), static_cast<std::size_t>(count) * 2048))) {
            std::perror("write");
            return false;
        }
    }
    return true;
}

int make_data(long sectors, const char* bin_path, const char* iso_path)
{
    std::FILE* bin = std::fopen(bin_path, "wb");
    std::FILE* iso = iso_path != nullptr ? std::fopen(iso_path, "wb") : nullptr;
    if (bin == nullptr || (iso_path != nullptr && iso == nullptr)) {
        std::perror("open");
        return 1;
    }
    rng random{0x9E3779B97F4A7C15ULL};
    if (!write_data_sectors(bin, iso, sectors, 150, random))
        return 1;
    const bool ok = std::fclose(bin) == 0 && (iso == nullptr || std::fclose(iso) == 0);
    return ok ? 0 : 1;
}

// A sine table with linear interpolation: fast and deterministic.
constexpr int table_bits = 12;
constexpr int table_size = 1 << table_bits;
float sine_table[table_size + 1];

inline float sine_of_phase(double phase)   // phase in cycles, [0, 1)
{
    const double position = phase * table_size;
    const int index = static_cast<int>(position);
    const auto fraction = static_cast<float>(position - index);
    return sine_table[index] + (sine_table[index + 1] - sine_table[index]) * fraction;
}

struct voice {
    double frequency = 0;
    double phases[8] = {};
    float amplitudes[8] = {};
    int harmonics = 0;
    long age = -1;          // frames since the note began; -1 silent
    float decay = 0;        // per-frame multiplier after the attack
    float level = 0;
    float pan = 0.5f;       // 0 left, 1 right
    long attack = 1;
};

void fill_sine_table()
{
    for (int i = 0; i <= table_size; ++i)
        sine_table[i] = static_cast<float>(std::sin(2.0 * 3.14159265358979323846 * i / table_size));
}

// Writes `total` frames of the music to bin, its notes drawn from seed.
bool write_music(std::FILE* bin, long total, std::uint64_t seed)
{
    constexpr double rate = 44100.0;
    // A minor pentatonic over three octaves, in semitones from A2 (110 Hz).
    static const int scale[] = {0, 3, 5, 7, 10, 12, 15, 17, 19, 22, 24, 27, 29, 31, 34, 36};
    constexpr int scale_size = sizeof scale / sizeof scale[0];
    static const int bass_line[] = {0, 0, 5, 7, 3, 3, 7, 5};

    rng random{seed};
    constexpr int voice_count = 6;
    voice voices[voice_count];
    voice bass;
    int next_voice = 0;
    const long beat = 11025;   // 0.25 s at 240 notes a minute
    float noise_state = 0;

    std::vector<std::int16_t> out;
    constexpr long chunk = 44100;
    out.resize(static_cast<std::size_t>(chunk) * 2);
    long written = 0;
    long step = 0;
    for (long frame = 0; frame < total; ++frame) {
        if (frame % beat == 0) {
            // One or two new notes on most beats, a new bass note every two beats.
            const int notes = random.uniform() < 0.2 ? 0 : (random.uniform() < 0.3 ? 2 : 1);
            for (int n = 0; n < notes; ++n) {
                voice& v = voices[next_voice];
                next_voice = (next_voice + 1) % voice_count;
                const int semitone = scale[static_cast<int>(random.uniform() * scale_size)] + 12;
                v.frequency = 110.0 * std::pow(2.0, semitone / 12.0);
                v.harmonics = 3 + static_cast<int>(random.uniform() * 6);
                const double brightness = 0.4 + random.uniform() * 0.5;
                for (int h = 0; h < v.harmonics; ++h) {
                    v.phases[h] = random.uniform();
                    v.amplitudes[h] = static_cast<float>(std::pow(brightness, h) / (1 + h * 0.3));
                }
                v.age = 0;
                v.attack = 200 + static_cast<long>(random.uniform() * 1500);
                v.decay = static_cast<float>(std::exp(-1.0 / (rate * (0.15 + random.uniform() * 1.2))));
                v.level = 0;
                v.pan = static_cast<float>(0.2 + random.uniform() * 0.6);
            }
            if (step % 2 == 0) {
                bass.frequency = 55.0 * std::pow(2.0, bass_line[(step / 2) % 8] / 12.0);
                bass.harmonics = 4;
                for (int h = 0; h < 4; ++h) {
                    bass.phases[h] = 0;
                    bass.amplitudes[h] = static_cast<float>(1.0 / (1 + h * h));
                }
                bass.age = 0;
                bass.attack = 300;
                bass.decay = static_cast<float>(std::exp(-1.0 / (rate * 0.6)));
                bass.level = 0;
                bass.pan = 0.5f;
            }
            ++step;
        }
        float left = 0;
        float right = 0;
        auto play = [&](voice& v, float gain) {
            if (v.age < 0)
                return;
            float envelope;
            if (v.age < v.attack) {
                envelope = static_cast<float>(v.age) / static_cast<float>(v.attack);
                v.level = envelope;
            } else {
                v.level *= v.decay;
                envelope = v.level;
            }
            ++v.age;
            if (envelope < 1e-4f && v.age > v.attack) {
                v.age = -1;
                return;
            }
            float sum = 0;
            for (int h = 0; h < v.harmonics; ++h) {
                double& phase = v.phases[h];
                phase += v.frequency * (h + 1) / rate;
                phase -= std::floor(phase);
                sum += v.amplitudes[h] * sine_of_phase(phase);
            }
            const float sample = sum * envelope * gain;
            left += sample * (1 - v.pan);
            right += sample * v.pan;
        };
        for (voice& v : voices)
            play(v, 0.22f);
        play(bass, 0.35f);
        // Low-passed white noise, a little different on each side.
        const auto white = static_cast<float>(random.uniform() * 2 - 1);
        noise_state = noise_state * 0.9f + white * 0.1f;
        left += noise_state * 0.02f + white * 0.004f;
        right += noise_state * 0.018f - white * 0.004f;

        const long slot = (frame - written) * 2;
        out[static_cast<std::size_t>(slot)] = static_cast<std::int16_t>(std::lrint(std::fmax(-1.f, std::fmin(1.f, left)) * 32767));
        out[static_cast<std::size_t>(slot + 1)] = static_cast<std::int16_t>(std::lrint(std::fmax(-1.f, std::fmin(1.f, right)) * 32767));
        if (frame + 1 - written == chunk || frame + 1 == total) {
            const long frames = frame + 1 - written;
            // Little-endian on disk whatever the host.
            std::vector<unsigned char> bytes(static_cast<std::size_t>(frames) * 4);
            for (long i = 0; i < frames * 2; ++i) {
                const auto value = static_cast<std::uint16_t>(out[static_cast<std::size_t>(i)]);
                bytes[static_cast<std::size_t>(i) * 2] = static_cast<unsigned char>(value & 0xFF);
                bytes[static_cast<std::size_t>(i) * 2 + 1] = static_cast<unsigned char>(value >> 8);
            }
            if (!write_all(bin, bytes.data(), bytes.size())) {
                std::perror("write");
                return false;
            }
            written = frame + 1;
        }
    }
    return true;
}

constexpr std::uint64_t music_seed = 0xD1B54A32D192ED03ULL;

int make_audio(long seconds, const char* bin_path)
{
    fill_sine_table();
    std::FILE* bin = std::fopen(bin_path, "wb");
    if (bin == nullptr) {
        std::perror("open");
        return 1;
    }
    if (!write_music(bin, seconds * 44100, music_seed))
        return 1;
    return std::fclose(bin) == 0 ? 0 : 1;
}

// A disc in one BIN and its sheet: track 1 data, the others audio, each its
// own length in sectors.
struct disc_track {
    bool audio;
    long sectors;
};

const char* base_name(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

// first_song: the seed of the first audio track's music, counted from the
// disc's first track (1 for the mixed disc's songs without its data track).
int make_disc(const std::vector<disc_track>& tracks, const char* bin_path, const char* cue_path,
              std::size_t first_song = 0)
{
    fill_sine_table();
    std::FILE* bin = std::fopen(bin_path, "wb");
    std::FILE* cue = std::fopen(cue_path, "wb");
    if (bin == nullptr || cue == nullptr) {
        std::perror("open");
        return 1;
    }
    std::fprintf(cue, "FILE \"%s\" BINARY\n", base_name(bin_path));
    rng data_random{0x9E3779B97F4A7C15ULL};
    long position = 0;   // in sectors, from the start of the BIN
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const disc_track& track = tracks[i];
        std::fprintf(cue, "  TRACK %02zu %s\n", i + 1, track.audio ? "AUDIO" : "MODE1/2352");
        if (track.audio && i > 0 && !tracks[i - 1].audio)
            std::fprintf(cue, "    PREGAP 00:02:00\n");   // the gap after a data track, not in the BIN
        std::fprintf(cue, "    INDEX 01 %02ld:%02ld:%02ld\n", position / 4500, position / 75 % 60, position % 75);
        const std::size_t song = i + first_song;
        const bool ok = track.audio
                            ? write_music(bin, track.sectors * 588, music_seed ^ ((song + 1) * 0x9E3779B97F4A7C15ULL))
                            : write_data_sectors(bin, nullptr, track.sectors, position + 150, data_random);
        if (!ok)
            return 1;
        position += track.sectors;
    }
    return std::fclose(bin) == 0 && std::fclose(cue) == 0 ? 0 : 1;
}

// One 50 MB data track (or none: the same songs alone), then 12 audio
// tracks of 1 to 6 minutes, 40 minutes and a few seconds in all, in an order
// neither longest nor shortest first.
int make_mixed(const char* bin_path, const char* cue_path, bool with_data)
{
    static const long seconds[] = {360, 75, 290, 140, 330, 60, 250, 185, 310, 105, 220, 75};
    std::vector<disc_track> tracks;
    if (with_data)
        tracks.push_back({false, 21260});   // 21260 * 2352 = 50,003,520 bytes
    long n = 0;
    for (const long s : seconds)
        tracks.push_back({true, s * 75 + (++n * 29) % 75});   // and a fraction of a second
    return make_disc(tracks, bin_path, cue_path, with_data ? 0 : 1);
}

// An album: the mixed disc's 12 audio tracks without its data track.
int make_mixed_album(const char* bin_path, const char* cue_path)
{
    static const long seconds[] = {360, 75, 290, 140, 330, 60, 250, 185, 310, 105, 220, 75};
    std::vector<disc_track> tracks;
    long n = 0;
    for (const long s : seconds)
        tracks.push_back({true, s * 75 + (++n * 29) % 75});
    return make_disc(tracks, bin_path, cue_path);
}

// 99 short tracks: one data track of 10 seconds' sectors, 98 audio tracks of
// 2 to 6 seconds each (about 6.5 minutes of audio).
int make_many(const char* bin_path, const char* cue_path)
{
    std::vector<disc_track> tracks{{false, 750}};
    rng random{0xA0761D6478BD642FULL};
    for (int n = 2; n <= 99; ++n)
        tracks.push_back({true, 150 + static_cast<long>(random.next() % 301)});
    return make_disc(tracks, bin_path, cue_path);
}

// A small disc of a library: 2 MB of data sectors, two 10-second songs.
int make_small(const char* bin_path, const char* cue_path)
{
    return make_disc({{false, 892}, {true, 750}, {true, 750}}, bin_path, cue_path);
}

// A 40-minute album: ten songs, no data track.
int make_album(const char* bin_path, const char* cue_path)
{
    static const long seconds[] = {300, 185, 260, 215, 330, 140, 275, 230, 190, 295};
    std::vector<disc_track> tracks;
    for (const long s : seconds)
        tracks.push_back({true, s * 75});
    return make_disc(tracks, bin_path, cue_path);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "data") == 0)
        return make_data(std::atol(argv[2]), argv[3], argc >= 5 ? argv[4] : nullptr);
    if (argc == 4 && std::strcmp(argv[1], "audio") == 0)
        return make_audio(std::atol(argv[2]), argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "mixed") == 0)
        return make_mixed(argv[2], argv[3], true);
    if (argc == 4 && std::strcmp(argv[1], "mixed_audio") == 0)
        return make_mixed(argv[2], argv[3], false);
    if (argc == 4 && std::strcmp(argv[1], "many") == 0)
        return make_many(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "small") == 0)
        return make_small(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "album") == 0)
        return make_album(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "mixed-album") == 0)
        return make_mixed_album(argv[2], argv[3]);
    const bool help = argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
    std::fputs("usage: make_bench_input data SECTORS BIN [ISO]   raw MODE1 sectors (and their .iso)\n"
               "       make_bench_input audio SECONDS BIN        music-like 16-bit stereo PCM\n"
               "       make_bench_input mixed|many|small BIN CUE a disc of data and audio tracks\n"
               "       make_bench_input mixed_audio BIN CUE      the mixed disc's 12 audio tracks alone\n"
               "       make_bench_input album BIN CUE            a 40-minute album, no data track\n"
               "       make_bench_input mixed-album BIN CUE      the durability bench's album\n",
               help ? stdout : stderr);
    return help ? 0 : 2;
}
