#include "extract/track_writer.h"

#include "app/diagnostics.h"
#include "app/platform.h"
#include "extract/audio_encoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// User data starts after the 16-byte sync and header; an XA (mode 2) sector
// has an 8-byte subheader before it as well.
constexpr int mode1_user_data_offset = 16;
constexpr int mode2_user_data_offset = 24;

// Moves the user data of each of count raw sectors down to its place in the
// .iso, in the buffer itself; no block lands on a sector not yet moved.
void compact_user_data(unsigned char* sectors, int count, int offset)
{
    for (int i = 0; i < count; ++i)
        std::memmove(sectors + i * user_data_size, sectors + i * raw_sector_size + offset, user_data_size);
}

struct data_copy {
    std::int64_t missing_sectors;   // sectors the BIN could not supply in full
    bool padded;                    // false: the zeros for them could not be written
};

// Copies the user data of the track's sectors, 256 sectors a read, each block
// written straight from where it was read. Whatever the BIN cannot supply is
// zeros: a sector cut by its end keeps the bytes read, and the sectors after
// it are appended as one run of zeros.
data_copy copy_data_track(std::FILE* bin_file, std::FILE* iso_file, const track_record& track,
                          track_buffer& buffer)
{
    const int offset = track.is_mode2 != 0 ? mode2_user_data_offset : mode1_user_data_offset;
    unsigned char* const sectors = buffer.sectors;
    const std::int64_t length = std::max(track.length_sectors, 0);
    std::int64_t remaining = length;
    std::int64_t whole_sectors_read = 0;
    while (bin_file != nullptr && remaining > 0) {
        const int count = static_cast<int>(std::min<std::int64_t>(remaining, sectors_per_read));
        const auto wanted = static_cast<std::size_t>(count) * raw_sector_size;
        const std::size_t got = std::fread(sectors, 1, wanted, bin_file);
        const int filled = static_cast<int>((got + raw_sector_size - 1) / raw_sector_size);
        std::memset(sectors + got, 0, static_cast<std::size_t>(filled) * raw_sector_size - got);
        compact_user_data(sectors, filled, offset);
        const auto block_size = static_cast<std::size_t>(filled) * user_data_size;
        if (std::fwrite(sectors, 1, block_size, iso_file) != block_size)
            return data_copy{0, true};   // the file is lost already (a full disk); the close reports it
        remaining -= filled;
        whole_sectors_read += static_cast<std::int64_t>(got / raw_sector_size);
        if (got < wanted)
            break;   // a short read is the end of the input
    }
    const bool padded = remaining == 0 || append_zeros(iso_file, remaining * user_data_size);
    return data_copy{length - whole_sectors_read, padded};
}

// The BIN positioned at the track's first sector, or null when no sector of
// it can be there (a negative start cannot be sought to).
std::FILE* position_at_track(std::FILE* bin_file, const track_record& track)
{
    if (track.start_sector < 0)
        return nullptr;
    return seek_to(bin_file, std::int64_t{track.start_sector} * raw_sector_size) ? bin_file : nullptr;
}

bool write_data_track(std::FILE* source, std::FILE* iso_file, const track_record& track,
                      track_buffer& buffer)
{
    const data_copy copy = copy_data_track(source, iso_file, track, buffer);
    if (!copy.padded) {
        report_problem("cannot write %s: %s", buffer.path, std::strerror(errno));
        return false;
    }
    if (copy.missing_sectors > 0)
        report_problem("%s: the BIN ends %lld sectors before the end of the track; padded with zeros",
                       base_name(buffer.path), static_cast<long long>(copy.missing_sectors));
    return copy.missing_sectors == 0;
}

bool write_audio_track(std::FILE* source, std::FILE* ogg_file, const track_record& track,
                       track_buffer& buffer)
{
    const audio_result result = encode_audio_track(source, ogg_file, track.length_sectors, buffer);
    if (!result.encoder_ready) {
        report_problem("%s: the Vorbis encoder could not be set up; file left empty",
                     base_name(buffer.path));
        return false;
    }
    const std::int64_t expected = std::int64_t{std::max(track.length_sectors, 0)} * audio_frames_per_sector;
    const std::int64_t missing = expected - result.frames_encoded;
    if (missing > 0)
        report_problem("%s: the BIN ends %lld audio frames before the end of the track; the stream stops there",
                     base_name(buffer.path), static_cast<long long>(missing));
    return missing <= 0;
}

} // namespace

bool extract_track(const run_paths& paths, const track_table& table, std::FILE* bin_file, int index,
                   track_buffer& buffer)
{
    if (bin_file == nullptr)
        return true;
    const int number = index + 1;
    const track_record& track = table.records[number];
    const bool is_audio = track.is_audio != 0;
    if (!format_track_path(paths, static_cast<unsigned>(number), is_audio, buffer.path))
        return false;   // cannot happen: the run refuses paths that do not fit
    std::printf("Processing file... %s\n", base_name(buffer.path));

    file_stream out = create_output_file(buffer.path);
    if (!out) {
        report_problem("cannot create %s: %s", buffer.path, std::strerror(errno));
        return false;
    }
    // The .iso is written in blocks of 256 sectors, larger than a stdio buffer;
    // the .ogg in pages of a few KB, which the buffer gathers.
    if (!is_audio)
        std::setvbuf(out.get(), nullptr, _IONBF, 0);
    std::FILE* source = position_at_track(bin_file, track);
    const bool complete = is_audio ? write_audio_track(source, out.get(), track, buffer)
                                   : write_data_track(source, out.get(), track, buffer);
    if (!close_file(out)) {
        report_problem("cannot write %s: %s", buffer.path, std::strerror(errno));
        return false;
    }
    return complete;
}
