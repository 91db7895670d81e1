#include "base/digest.h"

#include "base/platform.h"

#include <libdeflate.h>
#include <nettle/base64.h>

#include <vector>

void start_hash(hash_state& state, unsigned parts)
{
    state.parts = parts;
    state.size = 0;
    state.crc = 0;
    md5_init(&state.md5);
    sha1_init(&state.sha1);
}

void add_bytes(hash_state& state, const unsigned char* bytes, std::size_t size)
{
    state.size += static_cast<std::int64_t>(size);
    if ((state.parts & md5_part) != 0)
        md5_update(&state.md5, size, bytes);
    if ((state.parts & sha1_part) != 0)
        sha1_update(&state.sha1, size, bytes);
    if ((state.parts & crc32_part) != 0)
        state.crc = libdeflate_crc32(state.crc, bytes, size);
}

void finish_hash(hash_state& state, file_digest& digest)
{
    digest.size = state.size;
    if ((state.parts & crc32_part) != 0)
        digest.crc32 = state.crc;
    if ((state.parts & md5_part) != 0)
        md5_digest(&state.md5, MD5_DIGEST_SIZE, digest.md5.data());
    if ((state.parts & sha1_part) != 0)
        sha1_digest(&state.sha1, SHA1_DIGEST_SIZE, digest.sha1.data());
}

file_digest digest_of(std::string_view bytes)
{
    hash_state state;
    start_hash(state);
    add_bytes(state, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    file_digest digest;
    finish_hash(state, digest);
    return digest;
}

bool digest_of_file(const char* path, file_digest& digest)
{
    const file_stream file = open_regular_file(path);
    if (!file)
        return false;
    std::vector<unsigned char> block(std::size_t{1} << 20);
    hash_state state;
    start_hash(state);
    for (std::size_t got; (got = std::fread(block.data(), 1, block.size(), file.get())) > 0;)
        add_bytes(state, block.data(), got);
    if (std::ferror(file.get()) != 0)
        return false;
    finish_hash(state, digest);
    return true;
}

std::string hex_of(const unsigned char* bytes, std::size_t size)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::string crc32_hex(std::uint32_t crc)
{
    const unsigned char bytes[4] = {static_cast<unsigned char>(crc >> 24), static_cast<unsigned char>(crc >> 16),
                                    static_cast<unsigned char>(crc >> 8), static_cast<unsigned char>(crc)};
    return hex_of(bytes, 4);
}

namespace {

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool read_hex(std::string_view text, unsigned char* bytes, std::size_t size)
{
    if (text.size() != 2 * size)
        return false;
    for (std::size_t i = 0; i < size; ++i) {
        const int high = hex_digit(text[2 * i]);
        const int low = hex_digit(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return true;
}

std::string base64_of(std::string_view bytes)
{
    std::string text(BASE64_ENCODE_RAW_LENGTH(bytes.size()), '\0');
    base64_encode_raw(text.data(), bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data()));
    return text;
}

bool read_base64(std::string_view text, std::string& bytes)
{
    base64_decode_ctx context;
    base64_decode_init(&context);
    bytes.assign(BASE64_DECODE_LENGTH(text.size()), '\0');
    std::size_t length = bytes.size();
    if (base64_decode_update(&context, &length, reinterpret_cast<std::uint8_t*>(bytes.data()), text.size(),
                             text.data()) == 0 ||
        base64_decode_final(&context) == 0)
        return false;
    bytes.resize(length);
    return true;
}
