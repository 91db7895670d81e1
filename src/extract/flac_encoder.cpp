#include "extract/flac_encoder.h"

#include "base/platform.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

constexpr unsigned channel_count = 2;
constexpr unsigned bits_per_sample = 16;
constexpr unsigned sample_rate = 44100;
constexpr int frames_per_pass = audio_read_size / audio_bytes_per_frame;

struct encoder_deleter {
    void operator()(FLAC__StreamEncoder* encoder) const { FLAC__stream_encoder_delete(encoder); }
};
struct metadata_deleter {
    void operator()(FLAC__StreamMetadata* block) const { FLAC__metadata_object_delete(block); }
};
using flac_encoder = std::unique_ptr<FLAC__StreamEncoder, encoder_deleter>;
using metadata_block = std::unique_ptr<FLAC__StreamMetadata, metadata_deleter>;

// The .flac being written, through our own FILE (libFLAC would close one it
// opened itself): where the library stands in it, and the error of the
// first write or seek that failed, after which nothing more is written.
struct flac_sink {
    std::FILE* file;
    std::uint64_t position;
    int error;
    std::array<unsigned char, 16> md5;   // STREAMINFO's, as the encoder ends
};

FLAC__StreamEncoderWriteStatus write_bytes(const FLAC__StreamEncoder*, const FLAC__byte bytes[], std::size_t size,
                                           std::uint32_t, std::uint32_t, void* context)
{
    auto& sink = *static_cast<flac_sink*>(context);
    if (sink.error == 0 && std::fwrite(bytes, 1, size, sink.file) != size)
        sink.error = errno != 0 ? errno : EIO;
    sink.position += size;
    return sink.error == 0 ? FLAC__STREAM_ENCODER_WRITE_STATUS_OK : FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
}

// At the end the library goes back to fill in STREAMINFO.
FLAC__StreamEncoderSeekStatus seek_bytes(const FLAC__StreamEncoder*, FLAC__uint64 offset, void* context)
{
    auto& sink = *static_cast<flac_sink*>(context);
    if (sink.error == 0 && !seek_to(sink.file, static_cast<std::int64_t>(offset)))
        sink.error = errno != 0 ? errno : EIO;
    sink.position = offset;
    return sink.error == 0 ? FLAC__STREAM_ENCODER_SEEK_STATUS_OK : FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
}

FLAC__StreamEncoderTellStatus tell_bytes(const FLAC__StreamEncoder*, FLAC__uint64* offset, void* context)
{
    *offset = static_cast<flac_sink*>(context)->position;
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

// The STREAMINFO block with its totals and MD5, as the encoder finishes.
void take_stream_info(const FLAC__StreamEncoder*, const FLAC__StreamMetadata* block, void* context)
{
    if (block->type == FLAC__METADATA_TYPE_STREAMINFO)
        std::memcpy(static_cast<flac_sink*>(context)->md5.data(), block->data.stream_info.md5sum, 16);
}

bool append_comment(FLAC__StreamMetadata* block, std::string_view comment)
{
    FLAC__StreamMetadata_VorbisComment_Entry entry;
    entry.length = static_cast<FLAC__uint32>(comment.size());
    entry.entry = reinterpret_cast<FLAC__byte*>(const_cast<char*>(comment.data()));
    // Copied: the block owns its entries.
    return FLAC__metadata_object_vorbiscomment_append_comment(block, entry, true) != 0;
}

// ENCODER first, as in the .ogg files, then the track's own.
metadata_block comment_block(const std::vector<std::string>* comments)
{
    metadata_block block(FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT));
    if (block == nullptr || !append_comment(block.get(), encoder_comment))
        return nullptr;
    if (comments != nullptr)
        for (const std::string& comment : *comments)
            if (!append_comment(block.get(), comment))
                return nullptr;
    return block;
}

bool set_up(FLAC__StreamEncoder* encoder, std::int64_t byte_count, FLAC__StreamMetadata** blocks, bool proof)
{
    return FLAC__stream_encoder_set_channels(encoder, channel_count) &&
           FLAC__stream_encoder_set_bits_per_sample(encoder, bits_per_sample) &&
           FLAC__stream_encoder_set_sample_rate(encoder, sample_rate) &&
           FLAC__stream_encoder_set_compression_level(encoder, proof ? flac_proof_level : flac_compression_level) &&
           FLAC__stream_encoder_set_verify(encoder, proof) &&
           FLAC__stream_encoder_set_total_samples_estimate(
               encoder, static_cast<FLAC__uint64>(std::max<std::int64_t>(byte_count, 0) / audio_bytes_per_frame)) &&
           FLAC__stream_encoder_set_metadata(encoder, blocks, 1);
}

// One pass of little-endian 16-bit frames as the library's 32-bit samples.
void widen_samples(const unsigned char* bytes, int frame_count, FLAC__int32* samples)
{
    for (int i = 0; i < frame_count * static_cast<int>(channel_count); ++i)
        samples[i] = static_cast<std::int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
}

} // namespace

audio_result encode_flac_track(pcm_reader& input, const encoder_settings& settings, std::FILE* flac_file)
{
    // The block outlives the encoder, which reads it until it is finished.
    metadata_block tags = comment_block(settings.comments);
    flac_encoder encoder(FLAC__stream_encoder_new());
    FLAC__StreamMetadata* blocks[] = {tags.get()};
    if (tags == nullptr || encoder == nullptr || !set_up(encoder.get(), input.bytes_left, blocks, settings.proof))
        return audio_result{false, 0, 0};
    flac_sink sink{flac_file, 0, 0, {}};
    if (FLAC__stream_encoder_init_stream(encoder.get(), write_bytes, seek_bytes, tell_bytes, take_stream_info,
                                         &sink) != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
        return audio_result{false, 0, sink.error};
    // The headers are on disk before any audio is read.
    if (sink.error == 0 && std::fflush(flac_file) != 0)
        sink.error = errno;

    FLAC__int32 samples[frames_per_pass * channel_count];
    std::int64_t frames_encoded = 0;
    bool encoded = true;
    for (int count; encoded && sink.error == 0 && (count = read_frames(input)) > 0;) {
        widen_samples(input.buffer, count, samples);
        encoded = FLAC__stream_encoder_process_interleaved(encoder.get(), samples, static_cast<unsigned>(count)) != 0;
        frames_encoded += count;
    }
    // Finishing writes the last frame and goes back for STREAMINFO.
    encoded = FLAC__stream_encoder_finish(encoder.get()) != 0 && encoded;
    if (!encoded && sink.error == 0)
        sink.error = EIO;
    audio_result result{true, frames_encoded, sink.error};
    result.verified = settings.proof && encoded && sink.error == 0;
    result.stream_md5 = sink.md5;
    return result;
}
