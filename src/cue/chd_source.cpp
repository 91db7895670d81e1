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
    source.result = disc_source::state::read;
    source.layout = lay_out_tracks(source.sheet);
    bin_part part = file_part(path, 0, disc->bin_sectors * raw_sector_size);
    std::shared_ptr<const chd_disc> shared = std::move(disc);
    part.decoder = [shared](const bin_part&) { return open_chd_reader(shared); };
    source.bin.parts.push_back(std::move(part));
    source.bin.size_bytes = source.bin.parts.back().bytes;
    return source;
}
