#include "cue/file_content.h"

#include "cue/flac_file.h"

#include <cstdio>
#include <utility>
#include <cstring>

namespace {

constexpr std::size_t head_size = 64;

std::uint32_t le32(const unsigned char* p)
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
unsigned le16(const unsigned char* p) { return unsigned{p[0]} | unsigned{p[1]} << 8; }

bool has_magic(const unsigned char* head, std::size_t size, std::size_t at, const char* magic)
{
    const std::size_t length = std::strlen(magic);
    return size >= at + length && std::memcmp(head + at, magic, length) == 0;
}

// Audio of kinds that are not read, by the mark they begin with.
struct foreign_kind {
    const char* magic;
    std::size_t at;
    const char* what;
};
constexpr foreign_kind foreign_kinds[] = {
    {"OggS", 0, "Ogg audio"},     {"MAC ", 0, "APE audio"},  {"wvpk", 0, "WavPack audio"},
    {"TTA1", 0, "TTA audio"},     {"ftyp", 4, "MP4 audio"},  {"RF64", 0, "an RF64 WAVE file"},
    {"FORM", 0, "AIFF audio"},    {"ID3", 0, "MP3 audio"},
};

std::string sound_of(unsigned bits, unsigned rate, unsigned channels)
{
    char text[96];
    std::snprintf(text, sizeof text, "%u-bit %u Hz %u-channel", bits, rate, channels);
    return text;
}

// A RIFF WAVE file: its fmt chunk must say CD audio, and its data chunk is
// the audio. A data chunk whose size runs past the file's end (or is 0, as a
// recorder that was stopped leaves it) ends at the file's end.
file_content read_wave(const byte_reader& read, std::int64_t file_size)
{
    file_content content;
    content.kind = file_kind::wave;
    bool fmt_seen = false;
    unsigned char chunk[40];
    for (std::int64_t at = 12; at + 8 <= file_size;) {
        const std::size_t got = read(at, chunk, sizeof chunk);
        if (got < 8)
            break;
        const std::int64_t size = le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && got >= 24) {
            const unsigned format = le16(chunk + 8);
            const bool extensible_pcm = format == 0xFFFE && got >= 40 && le16(chunk + 32) == 1;
            if (format != 1 && !extensible_pcm) {
                char text[64];
                std::snprintf(text, sizeof text, "a WAVE file of compressed audio (format %u)", format);
                content.refusal = text;
                return content;
            }
            const unsigned channels = le16(chunk + 10);
            const unsigned rate = le32(chunk + 12);
            const unsigned bits = le16(chunk + 22);
            if (channels != cd_channels || rate != cd_sample_rate || bits != cd_bits_per_sample) {
                content.refusal = "a WAVE file of " + sound_of(bits, rate, channels) + " PCM";
                return content;
            }
            fmt_seen = true;
        } else if (std::memcmp(chunk, "data", 4) == 0 && fmt_seen) {
            content.data_offset = at + 8;
            const std::int64_t left = file_size - content.data_offset;
            content.size_bytes = size == 0 || size > left ? left : size;
            return content;
        }
        at += 8 + size + (size & 1);   // chunks are padded to an even size
    }
    content.refusal = fmt_seen ? "a WAVE file without a data chunk" : "a WAVE file without a fmt chunk";
    return content;
}

// An ID3v2 tag's size, header and footer included: its size field holds 7
// bits a byte.
std::int64_t id3_tag_size(const unsigned char* head)
{
    std::int64_t size = 0;
    for (int i = 6; i < 10; ++i)
        size = size << 7 | (head[i] & 0x7F);
    return 10 + size + ((head[5] & 0x10) != 0 ? 10 : 0);
}

file_content read_flac(const byte_reader& read, std::int64_t file_size)
{
    file_content content;
    content.kind = file_kind::flac;
    flac_stream_info info;
    if (!read_flac_stream_info(read, file_size, info))
        content.refusal = "a FLAC stream without its STREAMINFO";
    else if (info.sample_rate != cd_sample_rate || info.channels != cd_channels ||
             info.bits_per_sample != cd_bits_per_sample)
        content.refusal = "FLAC audio of " + sound_of(info.bits_per_sample, info.sample_rate, info.channels);
    else if (info.total_samples == 0)
        content.refusal = "a FLAC stream that does not give its length";
    content.size_bytes = static_cast<std::int64_t>(info.total_samples) * 4;
    return content;
}

} // namespace

file_content read_file_content(const byte_reader& read, std::int64_t file_size)
{
    unsigned char head[head_size] = {};
    std::size_t size = read(0, head, sizeof head);
    // A FLAC file may begin with an ID3 tag, which libFLAC passes over.
    if (has_magic(head, size, 0, "ID3") && size >= 10) {
        unsigned char after[4] = {};
        if (read(id3_tag_size(head), after, sizeof after) == sizeof after && std::memcmp(after, "fLaC", 4) == 0)
            return read_flac(read, file_size);
    }
    if (has_magic(head, size, 0, "fLaC"))
        return read_flac(read, file_size);
    if (has_magic(head, size, 0, "RIFF") && has_magic(head, size, 8, "WAVE"))
        return read_wave(read, file_size);
    file_content content;
    content.size_bytes = file_size;
    for (const foreign_kind& kind : foreign_kinds)
        if (has_magic(head, size, kind.at, kind.magic))
            content.refusal = kind.what;
    return content;
}

type_word read_type_word(const char* text)
{
    // As ever, BINARY is a prefix: "BINARYX" is BINARY.
    if (std::strncmp(text, "BINARY", 6) == 0)
        return type_word::binary;
    static constexpr std::pair<const char*, type_word> words[] = {
        {"MOTOROLA", type_word::motorola}, {"WAVE", type_word::wave}, {"FLAC", type_word::flac},
        {"AIFF", type_word::aiff},         {"MP3", type_word::mp3},
    };
    for (const auto& [word, type] : words) {
        const std::size_t length = std::strlen(word);
        if (std::strncmp(text, word, length) == 0 && static_cast<unsigned char>(text[length]) <= 32)
            return type;
    }
    return type_word::unknown;
}

bool names_raw_sectors(type_word word) { return word == type_word::binary || word == type_word::motorola; }

file_content reading_of(type_word word, file_content content)
{
    if (!content.refusal.empty() || content.kind != file_kind::binary)
        return content;
    switch (word) {
    case type_word::motorola:
        content.kind = file_kind::motorola;
        break;
    case type_word::wave:
        content.refusal = "no RIFF WAVE header";
        break;
    case type_word::flac:
        content.refusal = "no FLAC stream";
        break;
    case type_word::aiff:
        content.refusal = "AIFF audio";
        break;
    case type_word::mp3:
        content.refusal = "MP3 audio";
        break;
    case type_word::binary:
    case type_word::unknown:
        break;
    }
    return content;
}
