// The codecs a CD's hunks are kept in. A CD hunk is whole frames of 2448
// bytes: the 2352-byte sector, then its 96 bytes of subcode. The CD codecs
// keep the sectors of a hunk, then their subcodes, as two streams: "cdlz"
// LZMA and deflate, "cdzl" deflate and deflate, "cdzs" Zstandard twice,
// each after a bitmap of the sectors whose sync pattern and ECC were left
// out (to be computed again) and the first stream's length; "cdfl" keeps
// the sectors as FLAC audio (16-bit big-endian stereo samples), then the
// subcodes deflated. Plain "zlib", "lzma", "zstd" and "flac" keep the hunk
// as one stream. Each reader has its own set, made as the codecs are first
// met.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

inline constexpr int chd_frame_bytes = 2448;

// Whether hunks in this codec can be read.
bool reads_chd_codec(std::uint32_t codec);

class chd_codecs {
public:
    explicit chd_codecs(std::uint32_t hunk_bytes);
    ~chd_codecs();
    chd_codecs(const chd_codecs&) = delete;
    chd_codecs& operator=(const chd_codecs&) = delete;

    // Decompresses one hunk kept in `codec` into `out`, hunk_bytes long.
    // False when its bytes do not give a whole hunk.
    bool decompress(std::uint32_t codec, const unsigned char* in, std::size_t size, unsigned char* out);

    struct contexts;

private:
    std::unique_ptr<contexts> contexts_;
};
