// make_sample_disc: builds the small CD image used by the README demo and the
// end-to-end tests: one data track (an ISO 9660 image made by xorriso) and
// three short audio tracks, as a CUE sheet plus one BIN of raw 2352-byte sectors.
//
//   make_sample_disc OUTDIR [--mode2]
//
// Every output is byte-identical from run to run, so tests can compare against
// the reference files written next to the image.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <numbers>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::size_t kSectorSize = 2352;
constexpr std::size_t kBlockSize = 2048;
constexpr int kLeadInSectors = 150;    // A disc's first track starts at 00:02:00.
constexpr int kGapSectors = 150;       // Track 3 INDEX 00, track 4 PREGAP.
constexpr int kFramesPerSector = 588;  // 2352 bytes of 16-bit stereo.
constexpr double kSampleRate = 44100.0;
// Every timestamp in the sample: 2024-01-01 00:00:00 UTC.
constexpr std::time_t kFixedTime = 1704067200;
constexpr const char* kFixedVolumeDate = "2024010100000000";  // The same, as YYYYMMDDhhmmsscc.

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

// ---------------------------------------------------------------- randomness
// splitmix64: tiny and identical on every platform, unlike rand().
std::uint64_t next_random(std::uint64_t& state) {
    state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// Uniform in [-1, 1).
double random_unit(std::uint64_t& state) {
    return static_cast<double>(next_random(state) >> 11) * 0x1.0p-52 - 1.0;
}

// ---------------------------------------------------------------- EDC / ECC
// CD-ROM EDC: CRC-32 over x^32+x^31+x^16+x^15+x^4+x^3+x+1, bits taken LSB
// first (hence the reflected constant), no initial or final xor.
std::uint32_t edc(const std::uint8_t* data, std::size_t size) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t r = i;
            for (int bit = 0; bit < 8; ++bit) r = (r >> 1) ^ ((r & 1U) ? 0xD8018001U : 0U);
            t[i] = r;
        }
        return t;
    }();
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) crc = (crc >> 8) ^ table[(crc ^ data[i]) & 0xFFU];
    return crc;
}

void store_le32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// GF(2^8) product modulo x^8+x^4+x^3+x^2+1 (0x11D), by shift and add.
std::uint8_t gf_mul(unsigned a, unsigned b) {
    unsigned product = 0;
    for (; b != 0; b >>= 1) {
        if (b & 1U) product ^= a;
        a <<= 1;
        if (a & 0x100U) a ^= 0x11DU;
    }
    return static_cast<std::uint8_t>(product);
}

// 1 / (1 + alpha), where alpha = x = 2; found once by search.
std::uint8_t inverse_of_3() {
    static const std::uint8_t inverse = [] {
        unsigned x = 1;
        while (gf_mul(3, x) != 1) ++x;
        return static_cast<std::uint8_t>(x);
    }();
    return inverse;
}

// The ECC sees bytes 12..2351 as 1170 16-bit words split into two byte
// planes coded independently. P codewords are the 43 columns of 24 words
// (plus 2 parity words); Q codewords are the 26 diagonals of 43 words over
// data and P parity (plus 2 parity words).
struct Code {
    std::size_t vectors;
    std::size_t length;  // Including the two parity symbols.
    std::size_t (*word)(std::size_t vector, std::size_t element);
};

std::size_t p_word(std::size_t n, std::size_t m) { return 43 * m + n; }

std::size_t q_word(std::size_t n, std::size_t m) {
    return m < 43 ? (44 * m + 43 * n) % 1118 : 1118 + 26 * (m - 43) + n;
}

constexpr Code kP{43, 26, p_word};
constexpr Code kQ{26, 45, q_word};

std::size_t ecc_offset(int plane, std::size_t word) {
    return 12 + 2 * word + static_cast<std::size_t>(plane);
}

// Plain and alpha-weighted (Horner) sums of the first `count` symbols of codeword n.
std::pair<unsigned, unsigned> codeword_sums(const std::uint8_t* sector, const Code& code, int plane,
                                            std::size_t n, std::size_t count) {
    unsigned sum = 0, weighted = 0;
    for (std::size_t m = 0; m < count; ++m) {
        const unsigned v = sector[ecc_offset(plane, code.word(n, m))];
        sum ^= v;
        weighted = gf_mul(weighted, 2) ^ v;
    }
    return {sum, weighted};
}

// Parity symbols p0, p1 make sum(v_i) = 0 and sum(alpha^(len-1-i) v_i) = 0.
void encode_parity(std::uint8_t* sector, const Code& code) {
    const std::size_t data_len = code.length - 2;
    for (int plane = 0; plane < 2; ++plane) {
        for (std::size_t n = 0; n < code.vectors; ++n) {
            const auto [sum, weighted] = codeword_sums(sector, code, plane, n, data_len);
            // alpha^2 shifts the data weights past the two parity places.
            const std::uint8_t p0 = gf_mul(gf_mul(weighted, 4) ^ sum, inverse_of_3());
            sector[ecc_offset(plane, code.word(n, data_len))] = p0;
            sector[ecc_offset(plane, code.word(n, data_len + 1))] =
                static_cast<std::uint8_t>(p0 ^ sum);
        }
    }
}

bool syndromes_zero(const std::uint8_t* sector, const Code& code) {
    for (int plane = 0; plane < 2; ++plane) {
        for (std::size_t n = 0; n < code.vectors; ++n) {
            const auto [s0, s1] = codeword_sums(sector, code, plane, n, code.length);
            if (s0 != 0 || s1 != 0) return false;
        }
    }
    return true;
}

// Mode 2 leaves the header out of the ECC: it is coded as if it were zero.
void encode_ecc(std::uint8_t* sector, bool zero_header) {
    std::array<std::uint8_t, 4> header{};
    std::memcpy(header.data(), sector + 12, 4);
    if (zero_header) std::memset(sector + 12, 0, 4);
    encode_parity(sector, kP);
    encode_parity(sector, kQ);
    std::memcpy(sector + 12, header.data(), 4);
}

// Cheap self-check of every sector written: the EDC residue of the
// protected bytes plus their EDC is zero, and so are all ECC syndromes.
void check_sector(const std::uint8_t* sector, bool mode2) {
    const bool edc_ok = mode2 ? edc(sector + 16, 2060) == 0 : edc(sector, 2068) == 0;
    std::array<std::uint8_t, kSectorSize> copy{};
    std::memcpy(copy.data(), sector, kSectorSize);
    if (mode2) std::memset(copy.data() + 12, 0, 4);
    if (!edc_ok || !syndromes_zero(copy.data(), kP) || !syndromes_zero(copy.data(), kQ))
        fail("internal error: sector failed its EDC/ECC check");
}

// ---------------------------------------------------------------- data sectors
std::uint8_t bcd(int value) { return static_cast<std::uint8_t>((value / 10) * 16 + value % 10); }

void write_sync_and_header(std::uint8_t* sector, int lba, std::uint8_t mode) {
    sector[0] = 0x00;
    std::memset(sector + 1, 0xFF, 10);
    sector[11] = 0x00;
    const int address = lba + kLeadInSectors;
    sector[12] = bcd(address / 4500);
    sector[13] = bcd(address / 75 % 60);
    sector[14] = bcd(address % 75);
    sector[15] = mode;
}

void encode_mode1(std::uint8_t* sector, int lba, const std::uint8_t* block) {
    write_sync_and_header(sector, lba, 1);
    std::memcpy(sector + 16, block, kBlockSize);
    store_le32(sector + 2064, edc(sector, 2064));
    std::memset(sector + 2068, 0, 8);
    encode_ecc(sector, false);
}

// XA Form 1: file 0, channel 0, submode "data"; the last sector also ends
// the record and the file.
void encode_mode2_form1(std::uint8_t* sector, int lba, const std::uint8_t* block, bool last) {
    write_sync_and_header(sector, lba, 2);
    const std::uint8_t submode = last ? 0x89 : 0x08;
    const std::array<std::uint8_t, 4> subheader{0, 0, submode, 0};
    std::memcpy(sector + 16, subheader.data(), 4);
    std::memcpy(sector + 20, subheader.data(), 4);
    std::memcpy(sector + 24, block, kBlockSize);
    store_le32(sector + 2072, edc(sector + 16, 2056));
    encode_ecc(sector, true);
}

Bytes data_track(const Bytes& iso, bool mode2) {
    const std::size_t blocks = iso.size() / kBlockSize;
    Bytes track(blocks * kSectorSize);
    for (std::size_t i = 0; i < blocks; ++i) {
        std::uint8_t* sector = track.data() + i * kSectorSize;
        const std::uint8_t* block = iso.data() + i * kBlockSize;
        const int lba = static_cast<int>(i);
        if (mode2) encode_mode2_form1(sector, lba, block, i + 1 == blocks);
        else encode_mode1(sector, lba, block);
        check_sector(sector, mode2);
    }
    return track;
}

// ---------------------------------------------------------------- audio
struct TrackMusic {
    int chords[2][4];  // MIDI notes; the two chords alternate every two beats.
    double bpm;
    bool mirrored;   // Swaps which side the low and high chord voices sit on.
    double hat_pan;  // 0 = left, 1 = right.
    int sectors;     // From this track's INDEX 01 to the next one's (or the end).
};

// The span of track 2 includes track 3's INDEX 00 gap, which plays the
// ring-out of the track before it, as gaps on real discs often do.
constexpr TrackMusic kMusic[3] = {
    {{{48, 55, 64, 67}, {53, 57, 60, 65}}, 120.0, false, 0.80, 450},
    {{{45, 57, 60, 64}, {43, 55, 59, 62}}, 100.0, true, 0.25, 465},
    {{{50, 57, 60, 65}, {52, 56, 59, 62}}, 140.0, false, 0.65, 330},
};

constexpr double kTwoPi = 2.0 * std::numbers::pi;

double note_hz(int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

// A few harmonics of falling strength, so no voice is a bare sine.
double harmonic_tone(double hz, double t) {
    const double phase = kTwoPi * hz * t;
    return std::sin(phase) + 0.5 * std::sin(2 * phase) + 0.25 * std::sin(3 * phase) +
           0.12 * std::sin(4 * phase);
}

// Plucked shape: quick attack, decay to a sustain level, and a short release
// before the next chord so the change of pitch does not click.
double chord_envelope(double t, double span) {
    const double attack = std::min(1.0, t / 0.01);
    const double release = std::min(1.0, (span - t) / 0.02);
    return attack * release * (0.5 + 0.5 * std::exp(-3.0 * t));
}

struct Stereo {
    double left = 0, right = 0;
};

// Equal-power panning; pan 0 is left, 1 is right.
void add_panned(Stereo& out, double value, double pan) {
    out.left += value * std::cos(pan * std::numbers::pi / 2);
    out.right += value * std::sin(pan * std::numbers::pi / 2);
}

// Overall loudness: fade in, slow swell, accent on each bar's first beat and
// a fade down (not to silence) towards the end.
double loudness(double t, double length, double beat) {
    const double fade_in = std::min(1.0, t / 0.4);
    const double fade_out = 0.3 + 0.7 * std::min(1.0, (length - t) / 1.5);
    const double swell = 0.85 + 0.15 * std::sin(kTwoPi * t / 3.0);
    const double accent = 1.0 + 0.4 * std::exp(-6.0 * std::fmod(t, 4 * beat));
    return fade_in * fade_out * swell * accent;
}

// Interleaved left/right samples in [-1, 1] before scaling.
std::vector<double> render_music(const TrackMusic& music, std::uint64_t seed) {
    const std::size_t frames = static_cast<std::size_t>(music.sectors) * kFramesPerSector;
    const double length = static_cast<double>(frames) / kSampleRate;
    const double beat = 60.0 / music.bpm;
    std::vector<double> out;
    out.reserve(2 * frames);
    double noise_low = 0;  // One-pole low-pass state; noise minus it is the hi-hat.
    for (std::size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / kSampleRate;
        const auto& chord = music.chords[static_cast<int>(t / (2 * beat)) % 2];
        const double env = chord_envelope(std::fmod(t, 2 * beat), 2 * beat);
        Stereo s;
        for (int v = 0; v < 4; ++v) {
            const double pan = 0.05 + 0.9 * v / 3.0;
            const double tone = harmonic_tone(note_hz(chord[v]), t);
            add_panned(s, 0.2 * env * tone, music.mirrored ? 1.0 - pan : pan);
        }
        add_panned(s, 0.3 * env * std::sin(kTwoPi * note_hz(chord[0] - 12) * t), 0.4);
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

// 16-bit little-endian PCM, left first, scaled so the peak is 70% of full scale.
void append_pcm(Bytes& out, const std::vector<double>& samples) {
    double peak = 0;
    for (double x : samples) peak = std::max(peak, std::fabs(x));
    const double scale = 0.7 * 32767.0 / peak;
    for (double x : samples) {
        const auto sample = static_cast<std::int16_t>(std::lround(x * scale));
        const auto value = static_cast<std::uint16_t>(sample);
        out.push_back(static_cast<std::uint8_t>(value & 0xFFU));
        out.push_back(static_cast<std::uint8_t>(value >> 8));
    }
}

// ---------------------------------------------------------------- files
void write_file(const fs::path& path, const void* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) fail("cannot write " + path.string());
}

void write_text(const fs::path& path, const std::string& text) {
    write_file(path, text.data(), text.size());
}

Bytes read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string numbered_lines(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i)
        text += "line " + std::to_string(i) + ": the quick brown fox jumps over the lazy dog " +
                std::to_string(i * 7) + " times.\n";
    return text;
}

// Fixed modes and times, so the folder does not depend on umask or clock.
void normalize_attributes(const fs::path& root) {
    const timespec times[2] = {{kFixedTime, 0}, {kFixedTime, 0}};
    std::vector<fs::path> paths{root};
    for (const auto& entry : fs::recursive_directory_iterator(root)) paths.push_back(entry.path());
    for (const auto& path : paths) {
        const bool dir = fs::is_directory(path);
        fs::permissions(path, dir ? fs::perms(0755) : fs::perms(0644));
        if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
            fail("cannot set the times of " + path.string());
    }
}

void write_sample_files(const fs::path& dir) {
    fs::remove_all(dir);  // Stale files would end up in the image.
    fs::create_directories(dir / "docs");
    write_text(dir / "readme.txt",
               "trackcarve sample disc\n\n"
               "This folder is the content of the data track (track 1) of the\n"
               "sample disc image. Tracks 2 to 4 are short generated audio pieces.\n");
    write_text(dir / "tracks.txt",
               "01  data   ISO 9660 file system\n"
               "02  audio  C major / F major, 120 bpm\n"
               "03  audio  A minor / G major, 100 bpm\n"
               "04  audio  D minor 7 / E 7, 140 bpm\n");
    write_text(dir / "docs" / "lines.txt", numbered_lines(1500));
    Bytes noise(256 * 1024);
    std::uint64_t state = 0x5EED0001;
    for (auto& b : noise) b = static_cast<std::uint8_t>(next_random(state) >> 56);
    write_file(dir / "noise.bin", noise.data(), noise.size());
    normalize_attributes(dir);
}

// ---------------------------------------------------------------- xorriso
std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs a shell command; its output is shown only if it fails.
void run_quietly(const std::string& command, const std::string& what) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) fail("cannot run " + what);
    std::string output;
    char buffer[4096];
    while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, got);
    const int status = pclose(pipe);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(what + " failed:\n" + output);
}

// Everything that could vary between runs or machines is pinned: startup
// files, dates, UUID, IDs naming the xorriso version, owners and padding.
void make_iso(const fs::path& source, const fs::path& iso) {
    if (std::system("command -v xorriso >/dev/null 2>&1") != 0)
        fail("xorriso not found (install the xorriso package)");
    fs::remove(iso);  // xorriso would otherwise append a session to it.
    const std::string date = "=" + std::to_string(kFixedTime);
    run_quietly("SOURCE_DATE_EPOCH=" + std::to_string(kFixedTime) + " xorriso -no_rc" +
                    " -outdev " + shell_quote("stdio:" + iso.string()) +
                    " -volid TRACKCARVE_SAMPLE -system_id LINUX -preparer_id TRACKCARVE"
                    " -application_id '' -publisher ''"
                    " -volume_date uuid " + kFixedVolumeDate + " -volume_date all_file_dates " + date +
                    " -iso_nowtime " + date +
                    " -hardlinks off -acl off -xattr off -md5 off -disk_dev_ino off -padding 0"
                    " -map " + shell_quote(source.string()) + " /"
                    " -chown_r 0 / -- -chgrp_r 0 / -- -commit",
                "xorriso");
}

// xorriso rounds the file up to a multiple of 32 blocks; cut it back to the
// volume size recorded in the primary volume descriptor, so the data track
// is exactly as long as the file system says.
Bytes read_iso(const fs::path& path) {
    Bytes iso = read_file(path);
    const std::size_t pvd = 16 * kBlockSize;
    if (iso.size() < pvd + kBlockSize || std::memcmp(iso.data() + pvd, "\x01" "CD001", 6) != 0)
        fail("xorriso did not write an ISO 9660 image");
    std::size_t blocks = 0;  // Volume space size, little-endian half of the both-endian field.
    for (std::size_t i = 4; i-- > 0;) blocks = blocks << 8 | iso[pvd + 80 + i];
    const std::size_t size = blocks * kBlockSize;
    if (size == 0 || size > iso.size()) fail("unexpected ISO volume size");
    const auto tail = iso.begin() + static_cast<std::ptrdiff_t>(size);
    if (std::any_of(tail, iso.end(), [](std::uint8_t b) { return b != 0; }))
        fail("xorriso wrote data past the end of the volume");
    iso.resize(size);
    write_file(path, iso.data(), iso.size());
    return iso;
}

// ---------------------------------------------------------------- CUE sheet
std::string msf(int sectors) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", sectors / 4500, sectors / 75 % 60,
                  sectors % 75);
    return text;
}

std::string cue_text(const std::string& bin_name, bool mode2, int data_sectors) {
    std::string cue = "FILE \"" + bin_name + "\" BINARY\n";
    cue += std::string("  TRACK 01 ") + (mode2 ? "MODE2/2352" : "MODE1/2352") + "\n";
    cue += "    INDEX 01 00:00:00\n";
    int start = data_sectors;
    for (int i = 0; i < 3; ++i) {
        cue += "  TRACK 0" + std::to_string(i + 2) + " AUDIO\n";
        // A gap stored in the BIN (INDEX 00) before a gap that is not (PREGAP),
        // so every track lies whole in the BIN where the splitter looks for it.
        if (i == 1) cue += "    INDEX 00 " + msf(start - kGapSectors) + "\n";
        if (i == 2) cue += "    PREGAP " + msf(kGapSectors) + "\n";
        cue += "    INDEX 01 " + msf(start) + "\n";
        start += kMusic[i].sectors;
    }
    return cue;
}

// One file per track, as disc dumps commonly come: each audio track's file
// begins with its two-second gap (silence) under INDEX 00, so INDEX 01 is at
// 00:02:00 of its own file.
std::string redump_file_name(const std::string& name, int track) {
    return name + " (Track " + std::to_string(track) + ").bin";
}

std::string redump_cue_text(const std::string& name, bool mode2) {
    std::string cue = "FILE \"" + redump_file_name(name, 1) + "\" BINARY\n";
    cue += std::string("  TRACK 01 ") + (mode2 ? "MODE2/2352" : "MODE1/2352") + "\n";
    cue += "    INDEX 01 00:00:00\n";
    for (int track = 2; track <= 4; ++track) {
        cue += "FILE \"" + redump_file_name(name, track) + "\" BINARY\n";
        cue += "  TRACK 0" + std::to_string(track) + " AUDIO\n";
        cue += "    INDEX 00 00:00:00\n    INDEX 01 " + msf(kGapSectors) + "\n";
    }
    return cue;
}

// The same bytes as one BIN, with the gaps' INDEX 00 positions made absolute.
std::string merged_cue_text(const std::string& bin_name, bool mode2, int data_sectors) {
    std::string cue = "FILE \"" + bin_name + "\" BINARY\n";
    cue += std::string("  TRACK 01 ") + (mode2 ? "MODE2/2352" : "MODE1/2352") + "\n";
    cue += "    INDEX 01 00:00:00\n";
    int start = data_sectors;
    for (int i = 0; i < 3; ++i) {
        cue += "  TRACK 0" + std::to_string(i + 2) + " AUDIO\n";
        cue += "    INDEX 00 " + msf(start) + "\n    INDEX 01 " + msf(start + kGapSectors) + "\n";
        start += kGapSectors + kMusic[i].sectors;
    }
    return cue;
}

void make_redump_disc(const fs::path& outdir, const std::string& name, bool mode2, const Bytes& data,
                      int data_sectors) {
    write_file(outdir / redump_file_name(name, 1), data.data(), data.size());
    Bytes merged = data;
    for (std::size_t i = 0; i < 3; ++i) {
        Bytes track(kGapSectors * kSectorSize, 0);
        append_pcm(track, render_music(kMusic[i], 0xA0D10 + i));
        write_file(outdir / redump_file_name(name, static_cast<int>(i) + 2), track.data(), track.size());
        merged.insert(merged.end(), track.begin(), track.end());
    }
    write_text(outdir / (name + ".cue"), redump_cue_text(name, mode2));
    write_file(outdir / (name + "-merged.bin"), merged.data(), merged.size());
    write_text(outdir / (name + "-merged.cue"), merged_cue_text(name + "-merged.bin", mode2, data_sectors));
}

// ---------------------------------------------------------------- main
void make_disc(const fs::path& outdir, bool mode2, bool redump) {
    const std::string name = std::string(redump ? "sample_redump" : "sample") + (mode2 ? "_mode2" : "");
    fs::create_directories(outdir);
    write_sample_files(outdir / (name + "-files"));
    make_iso(outdir / (name + "-files"), outdir / (name + ".iso"));
    const Bytes iso = read_iso(outdir / (name + ".iso"));

    Bytes bin = data_track(iso, mode2);
    const int data_sectors = static_cast<int>(iso.size() / kBlockSize);
    if (redump) {
        make_redump_disc(outdir, name, mode2, bin, data_sectors);
    } else {
        for (std::size_t i = 0; i < 3; ++i) append_pcm(bin, render_music(kMusic[i], 0xA0D10 + i));
        write_file(outdir / (name + ".bin"), bin.data(), bin.size());
        write_text(outdir / (name + ".cue"), cue_text(name + ".bin", mode2, data_sectors));
    }
    std::printf("%s: data track %d sectors, audio %d+%d+%d sectors\n", name.c_str(), data_sectors,
                kMusic[0].sectors, kMusic[1].sectors, kMusic[2].sectors);
}

}  // namespace

int main(int argc, char** argv) {
    bool mode2 = false;
    bool redump = false;
    bool usage_ok = argc >= 2;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        mode2 = mode2 || option == "--mode2";
        redump = redump || option == "--redump";
        usage_ok = usage_ok && (option == "--mode2" || option == "--redump");
    }
    if (!usage_ok) {
        std::cerr << "usage: make_sample_disc OUTDIR [--mode2] [--redump]\n";
        return 2;
    }
    try {
        make_disc(argv[1], mode2, redump);
    } catch (const std::exception& e) {
        std::cerr << "make_sample_disc: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
