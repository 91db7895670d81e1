#include "cue/flac_file.h"

#include "base/platform.h"

#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

struct decoder_deleter {
    void operator()(FLAC__StreamDecoder* decoder) const { FLAC__stream_decoder_delete(decoder); }
};
using stream_decoder = std::unique_ptr<FLAC__StreamDecoder, decoder_deleter>;

// libFLAC reads through these, from a byte_reader: a file of ours (libFLAC
// would open one itself only by a narrow name, and seek it with a 32-bit
// long on Windows), or the head of an archive's member.
struct flac_input {
    byte_reader read;
    std::int64_t size = 0;
    std::int64_t position = 0;
};

FLAC__StreamDecoderReadStatus read_input(const FLAC__StreamDecoder*, FLAC__byte buffer[], std::size_t* bytes,
                                         void* context)
{
    auto& input = *static_cast<flac_input*>(context);
    const std::size_t got = *bytes == 0 ? 0 : input.read(input.position, buffer, *bytes);
    input.position += static_cast<std::int64_t>(got);
    *bytes = got;
    return got == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderSeekStatus seek_input(const FLAC__StreamDecoder*, FLAC__uint64 offset, void* context)
{
    static_cast<flac_input*>(context)->position = static_cast<std::int64_t>(offset);
    return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
}

FLAC__StreamDecoderTellStatus tell_input(const FLAC__StreamDecoder*, FLAC__uint64* offset, void* context)
{
    *offset = static_cast<FLAC__uint64>(static_cast<flac_input*>(context)->position);
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderLengthStatus length_of_input(const FLAC__StreamDecoder*, FLAC__uint64* length, void* context)
{
    *length = static_cast<FLAC__uint64>(static_cast<flac_input*>(context)->size);
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

FLAC__bool input_ended(const FLAC__StreamDecoder*, void* context)
{
    const auto& input = *static_cast<flac_input*>(context);
    return input.position >= input.size;
}

void ignore_error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

// Each state libFLAC calls back with is a flac_input, handed over as one,
// so that the input's callbacks and the others all find theirs.
struct stream_info_state : flac_input {
    flac_stream_info info;
    bool found = false;
};

void keep_stream_info(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* block, void* context)
{
    auto& state = static_cast<stream_info_state&>(*static_cast<flac_input*>(context));
    if (block->type != FLAC__METADATA_TYPE_STREAMINFO)
        return;
    const FLAC__StreamMetadata_StreamInfo& info = block->data.stream_info;
    state.info = flac_stream_info{info.sample_rate, info.channels, info.bits_per_sample, info.total_samples};
    state.found = true;
}

FLAC__StreamDecoderWriteStatus refuse_audio(const FLAC__StreamDecoder*, const FLAC__Frame*, const FLAC__int32* const[],
                                            void*)
{
    return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
}

bool init_decoder(FLAC__StreamDecoder* decoder, FLAC__StreamDecoderWriteCallback write,
                  FLAC__StreamDecoderMetadataCallback metadata, flac_input& state)
{
    return FLAC__stream_decoder_init_stream(decoder, read_input, seek_input, tell_input, length_of_input,
                                            input_ended, write, metadata, ignore_error,
                                            &state) == FLAC__STREAM_DECODER_INIT_STATUS_OK;
}

// The part's samples, a frame at a time: each frame decoded into CD audio's
// bytes, in a buffer as large as the stream's largest frame.
struct frame_state : flac_input {
    std::vector<unsigned char> frame;
    std::int64_t frame_start = 0;   // the frame's first byte in the part
    std::size_t frame_size = 0;
    std::int64_t audio_bytes = 0;   // the stream's samples x 4; after them, silence
    bool got_frame = false;
    bool fit = false;               // STREAMINFO says CD audio

    bool holds(std::int64_t offset) const
    {
        return frame_size > 0 && frame_start <= offset && offset < frame_start + static_cast<std::int64_t>(frame_size);
    }
};

frame_state& frame_state_of(void* context) { return static_cast<frame_state&>(*static_cast<flac_input*>(context)); }

void take_metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* block, void* context)
{
    frame_state& state = frame_state_of(context);
    if (block->type != FLAC__METADATA_TYPE_STREAMINFO)
        return;
    const FLAC__StreamMetadata_StreamInfo& info = block->data.stream_info;
    state.fit = info.sample_rate == cd_sample_rate && info.channels == cd_channels &&
                info.bits_per_sample == cd_bits_per_sample;
    state.audio_bytes = static_cast<std::int64_t>(info.total_samples) * 4;
    state.frame.resize(std::size_t{info.max_blocksize} * 4);
}

FLAC__StreamDecoderWriteStatus take_frame(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                          const FLAC__int32* const channels[], void* context)
{
    frame_state& state = frame_state_of(context);
    const FLAC__FrameHeader& header = frame->header;
    if (header.channels != cd_channels || header.bits_per_sample != cd_bits_per_sample ||
        std::size_t{header.blocksize} * 4 > state.frame.size())
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    // Both channels interleaved and made little-endian in one pass. What the
    // loop reads is held in locals: a byte store may alias anything, and
    // the compiler would read the header and the channels again after each.
    const unsigned count = header.blocksize;
    const FLAC__int32* left = channels[0];
    const FLAC__int32* right = channels[1];
    unsigned char* out = state.frame.data();
    for (unsigned i = 0; i < count; ++i, out += 4) {
        const auto left_sample = static_cast<std::uint16_t>(left[i]);
        const auto right_sample = static_cast<std::uint16_t>(right[i]);
        out[0] = static_cast<unsigned char>(left_sample & 0xFFU);
        out[1] = static_cast<unsigned char>(left_sample >> 8);
        out[2] = static_cast<unsigned char>(right_sample & 0xFFU);
        out[3] = static_cast<unsigned char>(right_sample >> 8);
    }
    // libFLAC numbers every frame by its first sample, once it has read it.
    state.frame_start = static_cast<std::int64_t>(header.number.sample_number) * 4;
    state.frame_size = std::size_t{header.blocksize} * 4;
    state.got_frame = true;
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

class flac_part_decoder final : public part_decoder {
public:
    bool open(const std::string& path);
    bool open(std::unique_ptr<part_decoder> member);
    std::size_t read(std::int64_t offset, unsigned char* buffer, std::size_t size) override;

private:
    bool start();
    bool decode_next_frame();
    std::size_t damaged_from(std::int64_t offset, std::size_t done, unsigned char* buffer, std::size_t size);
    bool decode_frame_holding(std::int64_t offset);

    frame_state state_;      // first: it outlives the decoder that calls back with it
    file_stream file_;
    std::unique_ptr<part_decoder> member_;   // or an archive's member, read from its start on
    stream_decoder decoder_;   // last: gone before its file
};

bool flac_part_decoder::open(const std::string& path)
{
    file_ = open_regular_file(path.c_str());
    if (!file_)
        return false;
    std::FILE* file = file_.get();
    // libFLAC asks for its whole buffer (8 KiB) at a time: each read one
    // system call straight into it, rather than split around a stdio buffer.
    std::setvbuf(file, nullptr, _IONBF, 0);
    state_.size = file_size(file);
    state_.read = [file, at = std::int64_t{-1}](std::int64_t offset, unsigned char* buffer,
                                                std::size_t size) mutable -> std::size_t {
        if (at != offset && !seek_to(file, offset))
            return 0;
        const std::size_t got = std::fread(buffer, 1, size, file);
        at = offset + static_cast<std::int64_t>(got);
        return got;
    };
    return start();
}

// A member is read from its start and on: its size is not asked for, as
// nothing seeks in it.
bool flac_part_decoder::open(std::unique_ptr<part_decoder> member)
{
    member_ = std::move(member);
    if (!member_)
        return false;
    state_.size = INT64_MAX;
    part_decoder* source = member_.get();
    state_.read = [source](std::int64_t offset, unsigned char* buffer, std::size_t size) -> std::size_t {
        const std::size_t got = source->read(offset, buffer, size);
        return source->damage.empty() ? got : 0;   // the zeros of damage are no FLAC stream: it ends there
    };
    return start();
}

bool flac_part_decoder::start()
{
    decoder_.reset(FLAC__stream_decoder_new());
    return decoder_ && init_decoder(decoder_.get(), take_frame, take_metadata, state_) &&
           FLAC__stream_decoder_process_until_end_of_metadata(decoder_.get()) && state_.fit;
}

bool flac_part_decoder::decode_next_frame()
{
    state_.got_frame = false;
    while (!state_.got_frame && FLAC__stream_decoder_process_single(decoder_.get()) &&
           FLAC__stream_decoder_get_state(decoder_.get()) != FLAC__STREAM_DECODER_END_OF_STREAM) {
    }
    return state_.got_frame;
}

// Decodes the frame after the last one, or seeks to the one that holds
// offset: libFLAC then gives that frame from offset's sample on. In a
// member, which is read only onward, the frames up to offset are decoded
// instead, from the stream's start again for an earlier offset (the
// tracks of a file a track read ask for its first seconds, then the rest).
bool flac_part_decoder::decode_frame_holding(std::int64_t offset)
{
    if (state_.frame_size > 0 && offset == state_.frame_start + static_cast<std::int64_t>(state_.frame_size))
        return decode_next_frame() && state_.holds(offset);
    if (!member_) {
        state_.got_frame = false;
        if (!FLAC__stream_decoder_seek_absolute(decoder_.get(), static_cast<FLAC__uint64>(offset / 4))) {
            FLAC__stream_decoder_flush(decoder_.get());
            return false;
        }
        return state_.got_frame && state_.holds(offset);
    }
    if (state_.frame_size > 0 && offset < state_.frame_start) {
        state_.frame_size = 0;
        if (!FLAC__stream_decoder_reset(decoder_.get()) ||
            !FLAC__stream_decoder_process_until_end_of_metadata(decoder_.get()))
            return false;
    }
    while (decode_next_frame())
        if (state_.holds(offset))
            return true;
    return false;
}

// The rest of the part after damage in the archive it is read from: zeros,
// told as that damage.
std::size_t flac_part_decoder::damaged_from(std::int64_t offset, std::size_t done, unsigned char* buffer,
                                            std::size_t size)
{
    std::memset(buffer + done, 0, size - done);
    damage.push_back({offset + static_cast<std::int64_t>(done), static_cast<std::int64_t>(size - done),
                      member_->damage.front().why});
    return size;
}

std::size_t flac_part_decoder::read(std::int64_t offset, unsigned char* buffer, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const std::int64_t at = offset + static_cast<std::int64_t>(done);
        if (at >= state_.audio_bytes) {   // the silence that fills the last sector
            std::memset(buffer + done, 0, size - done);
            return size;
        }
        if (!state_.holds(at) && !decode_frame_holding(at))
            return member_ && !member_->damage.empty() ? damaged_from(offset, done, buffer, size) : done;
        const auto from = static_cast<std::size_t>(at - state_.frame_start);
        const std::size_t count = std::min(size - done, state_.frame_size - from);
        std::memcpy(buffer + done, state_.frame.data() + from, count);
        done += count;
    }
    return done;
}

} // namespace

bool read_flac_stream_info(const byte_reader& read, std::int64_t file_size, flac_stream_info& info)
{
    const stream_decoder decoder(FLAC__stream_decoder_new());
    stream_info_state state;
    state.read = read;
    state.size = file_size;
    if (!decoder || !init_decoder(decoder.get(), refuse_audio, keep_stream_info, state))
        return false;
    // STREAMINFO is the first block: one call finds the stream, the next reads it.
    for (int call = 0; call < 2 && !state.found; ++call)
        if (!FLAC__stream_decoder_process_single(decoder.get()))
            break;
    info = state.info;
    return state.found;
}

namespace {

std::unique_ptr<part_decoder> open_flac_part(const std::string& path)
{
    auto decoder = std::make_unique<flac_part_decoder>();
    if (!decoder->open(path))
        return nullptr;
    return decoder;
}

} // namespace

decoder_maker flac_decoder_maker()
{
    return [](const bin_part& part) -> std::unique_ptr<part_decoder> {
        if (!part.source)
            return open_flac_part(part.path);
        auto decoder = std::make_unique<flac_part_decoder>();
        if (!decoder->open(part.source(file_part(part.path, 0, 0))))
            return nullptr;
        return decoder;
    };
}

decoder_maker flac_decoder(std::string path)
{
    return [path = std::move(path)](const bin_part&) { return open_flac_part(path); };
}

std::int64_t flac_audio_bytes(const std::string& path)
{
    const file_stream file = open_regular_file(path.c_str());
    if (!file)
        return -1;
    std::FILE* stream = file.get();
    flac_stream_info info;
    const bool read = read_flac_stream_info(
        [stream](std::int64_t offset, unsigned char* buffer, std::size_t size) -> std::size_t {
            return seek_to(stream, offset) ? std::fread(buffer, 1, size, stream) : 0;
        },
        file_size(stream), info);
    if (!read || info.sample_rate != cd_sample_rate || info.channels != cd_channels ||
        info.bits_per_sample != cd_bits_per_sample)
        return -1;
    return static_cast<std::int64_t>(info.total_samples) * 4;
}
