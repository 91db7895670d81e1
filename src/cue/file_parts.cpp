#include "cue/file_parts.h"

#include "base/paths.h"
#include "base/platform.h"
#include "cue/file_decoders.h"
#include "cue/flac_file.h"

namespace {

// The disc's address of a sector of the virtual BIN: the PREGAP silence of
// the tracks up to it is on the disc, though in no file. (Track 1's own is
// not: the emulator sheet gives a data track 1 none.)
std::int32_t disc_lba(const disc_layout& layout, std::int64_t sector)
{
    std::int64_t lba = sector;
    for (std::int32_t number = 2; number <= layout.track_count; ++number) {
        const track_span& track = layout.tracks[number];
        if (track.start_sector <= sector && track.pregap_frames > 0)
            lba += track.pregap_frames;
    }
    return static_cast<std::int32_t>(lba);
}

bin_part part_of_file(const bin_file_entry& file, const std::string& path, std::int64_t first_byte, bool last,
                      const disc_layout& layout)
{
    const std::int64_t sector_bytes = std::int64_t{whole_sectors_of(file)} * raw_sector_size;
    switch (file.kind) {
    case file_kind::binary:
        if (file.sector_bytes == raw_sector_size)
            return file_part(path, first_byte, last ? file.size_bytes : sector_bytes);
        break;
    case file_kind::wave:
        return file_part(path, first_byte, file.size_bytes, file.data_offset);
    case file_kind::flac:
    case file_kind::motorola:
        break;
    }
    bin_part part = file_part(path, first_byte, sector_bytes, file.data_offset);
    if (file.kind == file_kind::flac)
        part.decoder = flac_decoder_maker();
    else if (file.kind == file_kind::motorola)
        part.decoder = motorola_decoder_maker();
    else
        part.decoder = mode1_user_data_decoder_maker(disc_lba(layout, first_byte / raw_sector_size));
    return part;
}

} // namespace

file_content probe_file(const std::string& path)
{
    file_stream file = open_regular_file(path.c_str());
    if (!file)
        return {};
    const std::int64_t size = file_size(file.get());
    std::FILE* stream = file.get();
    return read_file_content(
        [stream](std::int64_t offset, unsigned char* buffer, std::size_t count) -> std::size_t {
            return seek_to(stream, offset) ? std::fread(buffer, 1, count, stream) : 0;
        },
        size < 0 ? 0 : size);
}

virtual_bin join_sheet_files(const cue_sheet& sheet, const disc_layout& layout, const std::vector<std::string>& paths)
{
    virtual_bin bin;
    for (std::size_t i = 0; i < sheet.bin_files.size(); ++i) {
        const bin_file_entry& file = sheet.bin_files[i];
        const bool last = i + 1 == sheet.bin_files.size();
        bin.parts.push_back(part_of_file(file, paths[i], bin.size_bytes, last, layout));
        bin.size_bytes += bin.parts.back().bytes;
        // A WAVE file's last sector: its audio, then silence.
        const std::int64_t tail = bin.size_bytes % raw_sector_size;
        if (file.kind == file_kind::wave && tail != 0) {
            bin.parts.push_back(file_part(paths[i], bin.size_bytes, raw_sector_size - tail));
            bin.parts.back().decoder = silence_decoder_maker();
            bin.parts.back().silence = true;
            bin.size_bytes += raw_sector_size - tail;
        }
    }
    return bin;
}
