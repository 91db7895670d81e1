#include "cue/chd_flac.h"

#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t sample_rate = 44100;
constexpr unsigned channel_count = 2;
constexpr unsigned bits_per_sample = 16;

// "fLaC", then a STREAMINFO block flagged as the last metadata block:
// block sizes, unknown frame sizes, 44100 Hz, 2 channels, 16 bits, an
// unknown length and no MD5.
constexpr std::size_t header_size = 42;
void make_header(unsigned char (&header)[header_size], std::uint32_t block_size)
{
    std::memset(header, 0, sizeof header);
    std::memcpy(header, "fLaC", 4);
    header[4] = 0x80;
    header[7] = 34;
    for (int at : {8, 10}) {
        header[at] = static_cast<unsigned char>(block_size >> 8);
        header[at + 1] = static_cast<unsigned char>(block_size);
    }
    header[18] = static_cast<unsigned char>(sample_rate >> 12);
    header[19] = static_cast<unsigned char>(sample_rate >> 4);
    header[20] = static_cast<unsigned char>(sample_rate << 4 | (channel_count - 1) << 1 | (bits_per_sample - 1) >> 4);
    header[21] = static_cast<unsigned char>((bits_per_sample - 1) << 4);
}

struct decoder_deleter {
    void operator()(FLAC__StreamDecoder* decoder) const { FLAC__stream_decoder_delete(decoder); }
};

} // namespace

// What the callbacks work on: the made-up header and the hunk's stream as
// one input, and where the samples go.
struct flac_hunk_decoder::state {
    std::unique_ptr<FLAC__StreamDecoder, decoder_deleter> decoder{FLAC__stream_decoder_new()};
    bool initialized = false;
    unsigned char header[header_size] = {};
    const unsigned char* in = nullptr;
    std::size_t in_size = 0;
    std::size_t handed = 0;   // bytes of header and stream given to the library
    unsigned char* out = nullptr;
    std::size_t frames_wanted = 0;
    std::size_t frames_done = 0;
    bool failed = false;
};

namespace {

using decoder_state = flac_hunk_decoder::state;

FLAC__StreamDecoderReadStatus read_input(const FLAC__StreamDecoder*, FLAC__byte buffer[], std::size_t* bytes,
                                         void* context)
{
    auto& s = *static_cast<decoder_state*>(context);
    std::size_t given = 0;
    while (given < *bytes && s.handed < header_size + s.in_size) {
        const bool in_header = s.handed < header_size;
        const unsigned char* from = in_header ? s.header + s.handed : s.in + (s.handed - header_size);
        const std::size_t left = in_header ? header_size - s.handed : s.in_size - (s.handed - header_size);
        const std::size_t count = std::min(left, *bytes - given);
        std::memcpy(buffer + given, from, count);
        given += count;
        s.handed += count;
    }
    *bytes = given;
    return given > 0 ? FLAC__STREAM_DECODER_READ_STATUS_CONTINUE : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
}

FLAC__StreamDecoderTellStatus tell_input(const FLAC__StreamDecoder*, FLAC__uint64* offset, void* context)
{
    *offset = static_cast<decoder_state*>(context)->handed;
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderWriteStatus write_samples(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                             const FLAC__int32* const channels[], void* context)
{
    auto& s = *static_cast<decoder_state*>(context);
    if (frame->header.channels != channel_count || frame->header.bits_per_sample != bits_per_sample) {
        s.failed = true;
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    const std::size_t count = std::min<std::size_t>(frame->header.blocksize, s.frames_wanted - s.frames_done);
    unsigned char* to = s.out + s.frames_done * channel_count * 2;
    for (std::size_t i = 0; i < count; ++i)
        for (unsigned channel = 0; channel < channel_count; ++channel) {
            const auto sample = static_cast<std::uint32_t>(channels[channel][i]);
            *to++ = static_cast<unsigned char>(sample >> 8);
            *to++ = static_cast<unsigned char>(sample);
        }
    s.frames_done += count;
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void note_error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* context)
{
    static_cast<decoder_state*>(context)->failed = true;
}

// Ready for a new stream: set up the first time, reset after that.
bool start_stream(decoder_state& s)
{
    if (!s.decoder)
        return false;
    if (s.initialized)
        return FLAC__stream_decoder_reset(s.decoder.get()) != 0;
    s.initialized = FLAC__stream_decoder_init_stream(s.decoder.get(), read_input, nullptr, tell_input, nullptr,
                                                     nullptr, write_samples, nullptr, note_error,
                                                     &s) == FLAC__STREAM_DECODER_INIT_STATUS_OK;
    return s.initialized;
}

} // namespace

flac_hunk_decoder::flac_hunk_decoder() : state_(std::make_unique<state>()) {}

flac_hunk_decoder::~flac_hunk_decoder()
{
    if (state_->initialized)
        FLAC__stream_decoder_finish(state_->decoder.get());
}

std::int64_t flac_hunk_decoder::decode(const unsigned char* in, std::size_t size, std::uint32_t block_size,
                                       unsigned char* out, std::size_t frames)
{
    state& s = *state_;
    make_header(s.header, block_size);
    s.in = in;
    s.in_size = size;
    s.handed = 0;
    s.out = out;
    s.frames_wanted = frames;
    s.frames_done = 0;
    s.failed = false;
    if (!start_stream(s))
        return -1;
    while (s.frames_done < frames && !s.failed) {
        if (FLAC__stream_decoder_process_single(s.decoder.get()) == 0 ||
            FLAC__stream_decoder_get_state(s.decoder.get()) == FLAC__STREAM_DECODER_END_OF_STREAM)
            break;
    }
    FLAC__uint64 position = 0;
    if (s.failed || s.frames_done < frames ||
        FLAC__stream_decoder_get_decode_position(s.decoder.get(), &position) == 0 || position < header_size) {
        // A stream that went wrong may leave the decoder in any state: start afresh.
        FLAC__stream_decoder_finish(s.decoder.get());
        s.initialized = false;
        return -1;
    }
    return static_cast<std::int64_t>(position - header_size);
}
