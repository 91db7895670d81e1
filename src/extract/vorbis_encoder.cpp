#include "extract/vorbis_encoder.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr int channel_count = 2;
constexpr long sample_rate = 44100;
constexpr int bytes_per_frame = audio_bytes_per_frame;
constexpr int frames_per_pass = audio_read_size / bytes_per_frame;

// The library states of one stream, released in the order the library
// expects whatever way the encoding ends.
struct vorbis_encoder {
    vorbis_info info{};
    vorbis_comment comment{};
    vorbis_dsp_state dsp{};
    vorbis_block block{};
    ogg_stream_state stream{};
    bool analysis_started = false;

    vorbis_encoder() { vorbis_info_init(&info); }
    ~vorbis_encoder()
    {
        if (analysis_started) {
            ogg_stream_clear(&stream);
            vorbis_block_clear(&block);
            vorbis_dsp_clear(&dsp);
            vorbis_comment_clear(&comment);
        }
        vorbis_info_clear(&info);
    }
    vorbis_encoder(const vorbis_encoder&) = delete;
    vorbis_encoder& operator=(const vorbis_encoder&) = delete;
};

// The .ogg being written, and the error of the first write that failed:
// after it nothing more is written, and the encoding stops.
struct page_sink {
    std::FILE* file;
    int error;
};

void write_page(page_sink& sink, const ogg_page& page)
{
    const auto header = static_cast<std::size_t>(page.header_len);
    const auto body = static_cast<std::size_t>(page.body_len);
    if (sink.error == 0 && (std::fwrite(page.header, 1, header, sink.file) != header ||
                            std::fwrite(page.body, 1, body, sink.file) != body))
        sink.error = errno != 0 ? errno : EIO;
}

// Sets up analysis and writes the three header packets on pages of their
// own, so the first audio packet starts a fresh page.
void start_stream(vorbis_encoder& encoder, const encoder_settings& settings, page_sink& sink)
{
    vorbis_comment_init(&encoder.comment);
    vorbis_comment_add(&encoder.comment, encoder_comment);
    if (settings.comments != nullptr)
        for (const std::string& comment : *settings.comments)
            vorbis_comment_add(&encoder.comment, comment.c_str());
    vorbis_analysis_init(&encoder.dsp, &encoder.info);
    vorbis_block_init(&encoder.dsp, &encoder.block);
    ogg_stream_init(&encoder.stream, settings.serial_number);
    encoder.analysis_started = true;

    ogg_packet identification;
    ogg_packet comment;
    ogg_packet codebooks;
    vorbis_analysis_headerout(&encoder.dsp, &encoder.comment, &identification, &comment, &codebooks);
    ogg_stream_packetin(&encoder.stream, &identification);
    ogg_stream_packetin(&encoder.stream, &comment);
    ogg_stream_packetin(&encoder.stream, &codebooks);
    ogg_page page;
    while (ogg_stream_flush(&encoder.stream, &page) != 0)
        write_page(sink, page);
    // The headers are on disk before any audio is read.
    if (sink.error == 0 && std::fflush(sink.file) != 0)
        sink.error = errno;
}

float sample_at(const unsigned char* bytes)
{
    const auto sample = static_cast<std::int16_t>(bytes[0] | bytes[1] << 8);
    return static_cast<float>(sample) / 32768.0f;
}

// Hands frame_count frames to the encoder; 0 marks the end of the input.
void submit_frames(vorbis_encoder& encoder, const unsigned char* bytes, int frame_count)
{
    if (frame_count > 0) {
        float** channels = vorbis_analysis_buffer(&encoder.dsp, frames_per_pass);
        for (int i = 0; i < frame_count; ++i) {
            const unsigned char* frame = bytes + i * bytes_per_frame;
            channels[0][i] = sample_at(frame);
            channels[1][i] = sample_at(frame + 2);
        }
    }
    vorbis_analysis_wrote(&encoder.dsp, frame_count);
}

// Moves every finished block through the bit-rate layer into pages on disk.
// Returns true once the end-of-stream page has been written.
bool drain_encoder(vorbis_encoder& encoder, page_sink& sink, bool stream_ended)
{
    while (vorbis_analysis_blockout(&encoder.dsp, &encoder.block) == 1) {
        vorbis_analysis(&encoder.block, nullptr);
        vorbis_bitrate_addblock(&encoder.block);
        ogg_packet packet;
        while (vorbis_bitrate_flushpacket(&encoder.dsp, &packet) != 0) {
            ogg_stream_packetin(&encoder.stream, &packet);
            ogg_page page;
            while (!stream_ended && ogg_stream_pageout(&encoder.stream, &page) != 0) {
                write_page(sink, page);
                stream_ended = ogg_page_eos(&page) != 0;
            }
        }
    }
    return stream_ended;
}

} // namespace

audio_result encode_vorbis_track(pcm_reader& input, const encoder_settings& settings, std::FILE* ogg_file)
{
    vorbis_encoder encoder;
    if (vorbis_encode_init_vbr(&encoder.info, channel_count, sample_rate, settings.quality) != 0)
        return audio_result{false, 0, 0};
    page_sink sink{ogg_file, 0};
    start_stream(encoder, settings, sink);

    std::int64_t frames_encoded = 0;
    bool stream_ended = false;
    while (!stream_ended && sink.error == 0) {
        const int frame_count = read_frames(input);
        submit_frames(encoder, input.buffer, frame_count);
        frames_encoded += frame_count;
        stream_ended = drain_encoder(encoder, sink, stream_ended);
        // The end of the input has been submitted, and with it the last page
        // drained; never loop on, whatever the library did.
        if (frame_count == 0)
            break;
    }
    return audio_result{true, frames_encoded, sink.error};
}
