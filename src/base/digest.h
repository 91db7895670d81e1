// The CRC32, MD5 and SHA-1 of a file, as disc catalogues list them:
// libdeflate's CRC32 (zlib's, faster) and Nettle's MD5 and SHA-1, fed the
// file's bytes in order.
#pragma once

#include <nettle/md5.h>
#include <nettle/sha1.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct file_digest {
    std::int64_t size = 0;
    std::uint32_t crc32 = 0;
    std::array<unsigned char, MD5_DIGEST_SIZE> md5{};
    std::array<unsigned char, SHA1_DIGEST_SIZE> sha1{};
};

// Which of the three a hash_state computes: MD5 is the slowest, so a run
// may give it a thread of its own and the other two another.
enum digest_part : unsigned { crc32_part = 1, md5_part = 2, sha1_part = 4, all_parts = 7 };

struct hash_state {
    unsigned parts = all_parts;
    std::int64_t size = 0;
    std::uint32_t crc = 0;
    md5_ctx md5{};
    sha1_ctx sha1{};
};

void start_hash(hash_state& state, unsigned parts = all_parts);
void add_bytes(hash_state& state, const unsigned char* bytes, std::size_t size);
// Sets the parts the state computed (and the size) in digest.
void finish_hash(hash_state& state, file_digest& digest);

// The digest of bytes in memory, all three parts.
file_digest digest_of(std::string_view bytes);
// The digest of the file at path, read whole; false when it cannot be.
bool digest_of_file(const char* path, file_digest& digest);

// Lower-case hex, as catalogues print them: "1a2b3c4d" for a CRC32.
std::string hex_of(const unsigned char* bytes, std::size_t size);
std::string crc32_hex(std::uint32_t crc);
template <std::size_t N> std::string hex_of(const std::array<unsigned char, N>& bytes)
{
    return hex_of(bytes.data(), N);
}
// Reads hex into bytes (either case); false unless it is exactly 2 * size digits.
bool read_hex(std::string_view text, unsigned char* bytes, std::size_t size);

// Base64 of bytes, and back; false when text is not base64.
std::string base64_of(std::string_view bytes);
bool read_base64(std::string_view text, std::string& bytes);
