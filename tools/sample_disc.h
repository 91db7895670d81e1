// What every part of the sample-disc generator shares: the sizes of the CD
// format, the byte buffers, a random sequence that is the same everywhere,
// and whole-file reads and writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using byte_vector = std::vector<std::uint8_t>;

inline constexpr std::size_t raw_sector_size = 2352;
inline constexpr std::size_t block_size = 2048;     // the user data of a data sector
inline constexpr int lead_in_sectors = 150;         // a disc's first track starts at 00:02:00
inline constexpr int gap_sectors = 150;             // track 3's INDEX 00, track 4's PREGAP
inline constexpr int frames_per_sector = 588;       // 2352 bytes of 16-bit stereo
inline constexpr double sample_rate = 44100.0;
// Every timestamp in the sample: 2024-01-01 00:00:00 UTC.
inline constexpr std::time_t fixed_time = 1704067200;

// Ends the program with a message (main catches it).
[[noreturn]] void fail(const std::string& what);

// splitmix64: tiny and identical on every platform, unlike rand().
std::uint64_t next_random(std::uint64_t& state);
// Uniform in [-1, 1).
double random_unit(std::uint64_t& state);

void write_file(const fs::path& path, const void* data, std::size_t size);
void write_text(const fs::path& path, const std::string& text);
byte_vector read_file(const fs::path& path);
