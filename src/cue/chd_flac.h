// The FLAC half of the "cdfl" hunk codec: a FLAC stream kept without its
// "fLaC" signature and STREAMINFO block (every hunk's would be alike), 44.1
// kHz, stereo, 16-bit, decoded through libFLAC with a made-up STREAMINFO in
// front.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class flac_hunk_decoder {
public:
    flac_hunk_decoder();
    ~flac_hunk_decoder();
    flac_hunk_decoder(const flac_hunk_decoder&) = delete;
    flac_hunk_decoder& operator=(const flac_hunk_decoder&) = delete;

    // Decodes the first `frames` stereo frames of the stream in `in`, whose
    // FLAC frames are block_size samples long, into `out` as big-endian
    // 16-bit samples, left then right. Returns how many bytes of `in` the
    // stream took (what follows is the hunk's next part), or -1 when it does
    // not decode to that many frames.
    std::int64_t decode(const unsigned char* in, std::size_t size, std::uint32_t block_size, unsigned char* out,
                        std::size_t frames);

    struct state;

private:
    std::unique_ptr<state> state_;
};
