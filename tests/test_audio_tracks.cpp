#include "extract/vorbis_encoder.h"
#include "output/track_format.h"

#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Music-like stereo audio: a few harmonics per channel under a changing
// envelope, different left and right, as 16-bit little-endian frames.
std::string stereo_audio(std::int64_t frame_count)
{
    std::string bytes(static_cast<std::size_t>(frame_count * 4), '\0');
    for (std::int64_t i = 0; i < frame_count; ++i) {
        const double t = static_cast<double>(i) / 44100.0;
        const double envelope = 0.5 + 0.4 * std::sin(2 * M_PI * 0.7 * t);
        const double left = envelope * (0.5 * std::sin(2 * M_PI * 220 * t) + 0.25 * std::sin(2 * M_PI * 660 * t));
        const double right = envelope * (0.5 * std::sin(2 * M_PI * 330 * t) - 0.3 * std::sin(2 * M_PI * 1210 * t));
        for (const auto& [offset, value] : {std::pair{0, left}, std::pair{2, right}}) {
            const auto sample = static_cast<std::int16_t>(std::lround(value * 32767));
            bytes[static_cast<std::size_t>(i * 4 + offset)] = static_cast<char>(sample & 0xFF);
            bytes[static_cast<std::size_t>(i * 4 + offset + 1)] = static_cast<char>((sample >> 8) & 0xFF);
        }
    }
    return bytes;
}

struct ogg_page_info {
    unsigned char flags;
    std::int64_t granule;
    int packets_ended;       // packets whose last segment is on this page
    bool ends_on_packet;     // the page's last segment ends a packet
};

std::vector<ogg_page_info> ogg_pages(const std::string& bytes)
{
    std::vector<ogg_page_info> pages;
    std::size_t at = 0;
    while (at + 27 <= bytes.size() && bytes.compare(at, 4, "OggS") == 0) {
        ogg_page_info page{static_cast<unsigned char>(bytes[at + 5]), 0, 0, false};
        for (int i = 7; i >= 0; --i)
            page.granule = page.granule << 8 | static_cast<unsigned char>(bytes[at + 6 + static_cast<std::size_t>(i)]);
        const auto segments = static_cast<unsigned char>(bytes[at + 26]);
        std::size_t body = 0;
        for (std::size_t s = 0; s < segments; ++s) {
            const auto lacing = static_cast<unsigned char>(bytes[at + 27 + s]);
            body += lacing;
            page.packets_ended += lacing < 255;
            page.ends_on_packet = lacing < 255;
        }
        pages.push_back(page);
        at += 27 + segments + body;
    }
    EXPECT_EQ(at, bytes.size()) << "bytes after the last whole page";
    return pages;
}

// Whole pages only; headers on pages of their own; one end-of-stream page, the last.
void expect_well_framed(const fs::path& path)
{
    const std::vector<ogg_page_info> pages = ogg_pages(read_file(path));
    ASSERT_GE(pages.size(), 3u);
    EXPECT_EQ(pages[0].flags & 0x02, 0x02) << "first page begins the stream";
    int header_packets = 0;
    std::size_t p = 0;
    for (; p < pages.size() && header_packets < 3; ++p) {
        header_packets += pages[p].packets_ended;
        EXPECT_EQ(pages[p].granule, 0) << "header page " << p;
    }
    EXPECT_EQ(header_packets, 3) << "no audio packet shares a page with the headers";
    EXPECT_TRUE(pages[p - 1].ends_on_packet);
    for (std::size_t i = 0; i < pages.size(); ++i)
        EXPECT_EQ((pages[i].flags & 0x04) != 0, i + 1 == pages.size()) << "page " << i;
}

double correlation(const std::vector<std::int16_t>& a, const std::string& source, int channel)
{
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i * 2 + 1 < a.size(); ++i) {
        const std::size_t at = i * 4 + static_cast<std::size_t>(channel) * 2;
        const double x = a[i * 2 + static_cast<std::size_t>(channel)];
        const double y = static_cast<std::int16_t>(static_cast<unsigned char>(source[at]) |
                                                   static_cast<unsigned char>(source[at + 1]) << 8);
        ab += x * y;
        aa += x * x;
        bb += y * y;
    }
    return ab / std::sqrt(aa * bb);
}

class AudioTracks : public track_fixture {
protected:
    decoded_stream extract_audio(std::int32_t start, std::int32_t length, int index = 0)
    {
        file = extract(track_span{start, length, 0, 1, 0}, index + 1);
        return decode_ogg(file);
    }
    fs::path file;
};

} // namespace

TEST_F(AudioTracks, WholeTrackKeepsEveryFrameAndTheStreamSettings)
{
    const std::string audio = stereo_audio(40 * 588);
    use_bin(patterned_sectors(0, 5) + audio + patterned_sectors(45, 5));
    const decoded_stream d = extract_audio(5, 40);
    EXPECT_EQ(d.channels, 2);
    EXPECT_EQ(d.rate, 44100);
    EXPECT_EQ(d.comments, std::vector<std::string>{"ENCODER=encoder_example"});
    EXPECT_EQ(d.pcm_total, 40 * 588);
    EXPECT_TRUE(clean) << diagnostics;
    EXPECT_EQ(console, "Processing file... track1.ogg\n");
    expect_well_framed(file);
    expect_ogginfo_accepts(file);

    // The decoded audio follows the source, channel for channel; a swapped
    // channel, a wrong sign or swapped bytes would not correlate.
    EXPECT_GT(correlation(d.samples, audio, 0), 0.95);
    EXPECT_GT(correlation(d.samples, audio, 1), 0.95);
}

TEST_F(AudioTracks, ReadsAreBoundedToTheTrack)
{
    // 7 sectors = 16464 bytes: the last 4096-byte read is cut at the track's end.
    use_bin(stereo_audio(20 * 588));
    EXPECT_EQ(extract_audio(3, 7).pcm_total, 7 * 588);
    EXPECT_TRUE(clean);
    expect_ogginfo_accepts(file);
}

TEST_F(AudioTracks, TrackCutByTheEndOfTheBinStopsThereAndIsReported)
{
    // 10 sectors and 3 stray bytes of an incomplete frame; the track wants 16.
    use_bin(stereo_audio(10 * 588) + "\x01\x02\x03");
    const decoded_stream d = extract_audio(0, 16);
    EXPECT_EQ(d.pcm_total, 10 * 588);
    EXPECT_FALSE(clean);
    EXPECT_EQ(diagnostics, "trackcarve: track1.ogg: the BIN ends 3528 audio frames before the end of the track; "
                           "the stream stops there\n");
    expect_well_framed(file);
    expect_ogginfo_accepts(file);
}

TEST_F(AudioTracks, EmptyTracksStillGetACompleteStream)
{
    use_bin(stereo_audio(4 * 588));
    EXPECT_EQ(extract_audio(0, 0).pcm_total, 0);
    EXPECT_TRUE(clean);
    expect_well_framed(file);
    // A start past the end or before the BIN: nothing to encode, and reported.
    EXPECT_EQ(extract_audio(10, 2).pcm_total, 0);
    EXPECT_FALSE(clean);
    EXPECT_EQ(extract_audio(-5, 2).pcm_total, 0);
    EXPECT_FALSE(clean);
    expect_well_framed(file);
}

namespace {

// A BIN that notes how much of the .ogg is on disk when it is first read.
struct watched_bin {
    std::string bytes;
    std::size_t at = 0;
    fs::path ogg;
    std::uintmax_t ogg_size_at_first_read = 0;
    bool read = false;
};

std::size_t read_watched(void* context, unsigned char* out, std::size_t size)
{
    auto& bin = *static_cast<watched_bin*>(context);
    if (!bin.read)
        bin.ogg_size_at_first_read = fs::file_size(bin.ogg);
    bin.read = true;
    const std::size_t count = std::min(size, bin.bytes.size() - bin.at);
    std::memcpy(out, bin.bytes.data() + bin.at, count);
    bin.at += count;
    return count;
}

} // namespace

TEST_F(AudioTracks, HeadersAreOnDiskBeforeAnyAudioIsRead)
{
    watched_bin source{stereo_audio(4 * 588), 0, dir / "disc" / "track1.ogg"};
    file_stream ogg(std::fopen(source.ogg.c_str(), "wb"));
    const pcm_source pcm{read_watched, &source};
    pcm_reader input{pcm, 4 * 2352, writer.buffer->audio};
    const audio_result result =
        encode_vorbis_track(input, encoder_settings{default_vorbis_quality, 1, nullptr}, ogg.get());
    ASSERT_TRUE(close_file(ogg));
    EXPECT_EQ(result.frames_encoded, 4 * 588);
    ASSERT_TRUE(source.read);

    // Exactly the header pages were there: the identification, comment and
    // codebook packets, and nothing more.
    const std::string headers = read_file(source.ogg).substr(0, source.ogg_size_at_first_read);
    int packets = 0;
    for (const ogg_page_info& page : ogg_pages(headers))
        packets += page.packets_ended;
    EXPECT_EQ(packets, 3);
}

// --flac: whatever part of the track the BIN holds, the .flac passes
// `flac -t` and decodes to exactly those bytes, whole frames only.
TEST_F(AudioTracks, FlacHoldsExactlyTheFramesTheBinHas)
{
    const std::string bytes = stereo_audio(20 * 588) + "\x01\x02\x03";
    use_bin(bytes);
    writer.format.codec = &codec_with_extension("flac");
    struct row {
        const char* what;
        std::int32_t start, length;
        std::size_t first_byte, bytes;
        bool clean;
    };
    const row rows[] = {
        {"whole track", 2, 10, 2 * 2352, 10 * 2352, true},
        {"last read cut at the track's end", 3, 7, 3 * 2352, 7 * 2352, true},
        {"cut by the BIN's end, stray bytes dropped", 15, 8, 15 * 2352, 5 * 2352, false},
        {"no sector", 0, 0, 0, 0, true},
        {"start before the BIN", -5, 2, 0, 0, false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        const fs::path flac = extract(track_span{r.start, r.length, 0, 1, 0});
        EXPECT_EQ(flac.filename(), "track1.flac");
        EXPECT_EQ(clean, r.clean) << diagnostics;
        EXPECT_EQ(run_command({"/usr/bin/flac", "-t", "-s", flac.string()}).exit_status, 0);
        const fs::path raw = dir / "decoded.raw";
        const command_result d = run_command({"/usr/bin/flac", "-d", "-s", "-f", "--force-raw-format", "--endian=little",
                                              "--sign=signed", "-o", raw.string(), flac.string()});
        ASSERT_EQ(d.exit_status, 0) << d.err;
        EXPECT_TRUE(read_file(raw) == bytes.substr(r.first_byte, r.bytes)) << "decoded samples differ";
    }
}
