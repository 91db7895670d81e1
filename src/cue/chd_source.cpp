#include "cue/chd_source.h"

#include "base/file_stream.h"
#include "base/paths.h"
#include "base/platform.h"
#include "cue/chd_codecs.h"
#include "cue/chd_image.h"
#include "cue/chd_reader.h"
#include "cue/chd_tracks.h"

#include <cerrno>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr char chd_signature[] = "MComprHD";
// Each reader keeps two hunks decoded and one compressed: chdman's hunks
// are 8 frames, 19584 bytes; a megabyte bounds what a file can make it hold.
constexpr std::uint32_t max_hunk_bytes = 1 << 20;

bool has_chd_extension(const char* path)
{
    const char* dot = std::strrchr(base_name(path), '.');
    if (dot == nullptr || std::strlen(dot) != 4)
        return false;
    for (int i = 1; i < 4; ++i)
        if (std::tolower(static_cast<unsigned char>(dot[i])) != ".chd"[i])
            return false;
    return true;
}

// A codec's four characters, or its number when they are not all printable.
std::string codec_name(std::uint32_t codec)
{
    std::string name;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto c = static_cast<unsigned char>(codec >> shift);
        if (std::isprint(c) == 0)
            return std::string("codec ") + std::to_string(codec);
        name += static_cast<char>(c);
    }
    return "\"" + name + "\"";
}

// That the hunks are whole CD frames, the codecs ones read here, no parent.
chd_problem check_cd_header(const chd_header& header)
{
    if (header.unit_bytes != chd_frame_bytes || header.hunk_bytes == 0 || header.hunk_bytes % chd_frame_bytes != 0)
        return {std::string("is damaged: its hunks are not whole CD frames of ") + std::to_string(chd_frame_bytes) +
                " bytes"};
    if (header.hunk_bytes > max_hunk_bytes)
        return {std::string("has hunks of ") + std::to_string(header.hunk_bytes) + " bytes, more than the " +
                std::to_string(max_hunk_bytes) + " trackcarve reads; 'chdman copy -i THIS.chd -o NEW.chd -hs 19584' "
                "rewrites it in chdman's usual hunks"};
    if (header.logical_bytes / chd_frame_bytes > static_cast<std::uint64_t>(max_chd_frames))
        return {"is damaged: its header gives it more frames than any CD holds"};
    if (header.has_parent)
        return {"holds only what differs from a parent CHD; 'chdman copy -i THIS.chd -ip PARENT.chd -o WHOLE.chd' "
                "makes a whole one"};
    for (const std::uint32_t codec : header.codecs)
        if (codec != 0 && !reads_chd_codec(codec))
            return {"is compressed with " + codec_name(codec) + ", which trackcarve does not read; "
                    "'chdman copy -i THIS.chd -o NEW.chd -c cdlz,cdzl,cdfl' recompresses it"};
    return {};
}

// Reads the file's header, metadata and map, in that order; what is wrong
// with it when it is not a CD CHD read here.
chd_problem read_disc(std::FILE* file, chd_disc& disc)
{
    if (chd_problem problem = read_chd_header(file, disc.header))
        return problem;
    std::vector<chd_metadata> metadata;
    if (chd_problem problem = read_chd_metadata(file, disc.header, metadata))
        return problem;
    chd_track_table table = read_chd_tracks(metadata, disc.header.logical_bytes / chd_frame_bytes);
    if (table.problem)
        return table.problem;
    if (chd_problem problem = check_cd_header(disc.header))
        return problem;
    if (chd_problem problem = read_chd_map(file, disc.header, disc.hunks))
        return problem;
    disc.tracks = std::move(table.tracks);
    disc.bin_sectors = table.bin_sectors;
    for (const chd_hunk& hunk : disc.hunks)
        if (hunk.kind == hunk_kind::compressed)
            disc.largest_hunk = std::max(disc.largest_hunk, hunk.length);
    return {};
}

std::string msf_text(std::int32_t frames)
{
    const msf_time msf = to_msf(frames);
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", msf.minutes, msf.seconds, msf.frames);
    return text;
}

const char* type_word(chd_sector_kind kind)
{
    switch (kind) {
    case chd_sector_kind::audio:
        return "AUDIO";
    case chd_sector_kind::mode1_raw:
    case chd_sector_kind::mode1_data:
        return "MODE1/2352";
    default:
        return "MODE2/2352";
    }
}

// The dump the CHD keeps, as the catalogues of dumps list a disc: one BIN a
// track, "NAME (Track N).bin" (N of two digits on a disc of ten or more
// tracks; "NAME.bin" alone for one track), each from its first kept frame,
// and their sheet, "NAME.cue", with CRLF line ends.
void fill_chd_dump(const std::vector<chd_track>& tracks, std::int64_t bin_sectors, const std::string& name,
                   disc_source& source)
{
    std::string& sheet = source.sheet_bytes;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const chd_track& track = tracks[i];
        std::string file = name;
        if (tracks.size() > 1) {
            char number[8];
            std::snprintf(number, sizeof number, tracks.size() >= 10 ? "%02zu" : "%zu", i + 1);
            file += std::string(" (Track ") + number + ")";
        }
        file += ".bin";
        const std::int64_t end = i + 1 < tracks.size() ? tracks[i + 1].bin_sector : bin_sectors;
        source.image_files.push_back(
            {file, track.bin_sector * raw_sector_size, (end - track.bin_sector) * raw_sector_size});
        char line[32];
        std::snprintf(line, sizeof line, "  TRACK %02zu ", i + 1);
        sheet += "FILE \"" + file + "\" BINARY\r\n" + line + type_word(track.kind) + "\r\n";
        if (track.pregap > 0 && !track.pregap_kept)
            sheet += "    PREGAP " + msf_text(track.pregap) + "\r\n";
        if (track.pregap_kept)
            sheet += "    INDEX 00 00:00:00\r\n";
        sheet += "    INDEX 01 " + msf_text(track.pregap_kept ? track.pregap : 0) + "\r\n";
    }
    source.sheet_name = name + ".cue";
}

// The CHD's file name without its extension.
std::string stem_of(const char* path)
{
    const std::string name = base_name(path);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

} // namespace

bool is_chd_source(const char* path)
{
    if (has_chd_extension(path))
        return true;
    const file_stream file = open_regular_file(path);
    char signature[sizeof chd_signature - 1];
    return file && std::fread(signature, 1, sizeof signature, file.get()) == sizeof signature &&
           std::memcmp(signature, chd_signature, sizeof signature) == 0;
}

disc_source read_chd_source(const disc_name& name)
{
    const char* path = name.path.c_str();
    disc_source source;
    const file_stream file = open_regular_file(path);
    if (!file) {
        source.error.message = reason_not_opened(path, errno);
        return source;
    }
    source.files.emplace_back(path);
    auto disc = std::make_shared<chd_disc>();
    disc->path = path;
    if (const chd_problem problem = read_disc(file.get(), *disc)) {
        source.result = disc_source::state::not_a_source;
        source.error = cue_error{0, std::string(path) + " " + problem.text, {}};
        return source;
    }
    fill_chd_sheet(disc->tracks, disc->bin_sectors, base_name(path), source.sheet);
    fill_chd_dump(disc->tracks, disc->bin_sectors, stem_of(path), source);
    source.result = disc_source::state::read;
    source.layout = lay_out_tracks(source.sheet);
    bin_part part = file_part(path, 0, disc->bin_sectors * raw_sector_size);
    std::shared_ptr<const chd_disc> shared = std::move(disc);
    part.decoder = [shared](const bin_part&) { return open_chd_reader(shared); };
    source.bin.parts.push_back(std::move(part));
    source.bin.size_bytes = source.bin.parts.back().bytes;
    return source;
}
