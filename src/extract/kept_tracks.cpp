// Whether a track's file from an earlier run stays as it is: the folder's
// record says it was written whole from the same recipe (the sources and
// options it was made from), and it is still as written.
#include "extract/kept_tracks.h"

#include "base/content_hash.h"
#include "output/output_names.h"
#include "output/split_record.h"

#include <algorithm>
#include <cstring>

// The zeros appended past the BIN's end, into the hash as into the file.
void hash_zeros(content_hash& hash, std::int64_t bytes, track_buffer& buffer)
{
    std::memset(buffer.sectors, 0, sizeof buffer.sectors);
    for (; bytes > 0; bytes -= static_cast<std::int64_t>(sizeof buffer.sectors))
        hash.add(buffer.sectors, static_cast<std::size_t>(std::min<std::int64_t>(bytes, sizeof buffer.sectors)));
}

const std::string* recipe_of(const track_writer& writer, std::int32_t number)
{
    if (writer.recipes == nullptr || writer.folder->journal == nullptr || number < 0 ||
        static_cast<std::size_t>(number) >= writer.recipes->size())
        return nullptr;
    return &(*writer.recipes)[static_cast<std::size_t>(number)];
}

namespace {

// The hash of the bytes a raw track is copied from, zeros past the BIN's end.
std::uint64_t hash_of_raw_track(bin_reader& bin, const track_span& track, track_buffer& buffer)
{
    content_hash hash;
    const std::int64_t track_bytes = std::int64_t{std::max(track.length_sectors, 0)} * raw_sector_size;
    std::int64_t done = 0;
    while (track.start_sector >= 0 && done < track_bytes) {
        const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(track_bytes - done, sizeof buffer.sectors));
        const std::size_t got =
            read_bin(bin, std::int64_t{track.start_sector} * raw_sector_size + done, buffer.sectors, wanted);
        hash.add(buffer.sectors, got);
        done += static_cast<std::int64_t>(got);
        if (got < wanted)
            break;
    }
    hash_zeros(hash, track_bytes - done, buffer);
    return hash.value();
}

// The record says the file was written whole from this very recipe, and
// it is still as written.
bool keep_track_file(track_writer& writer, const char* name, const std::string& recipe,
                     const track_span& track)
{
    const output_folder& folder = *writer.folder;
    const recorded_output* found = find_output(folder.journal->found, name);
    if (!track_file_as_recorded(*folder.paths, found, recipe, writer.bin, track, *writer.buffer))
        return false;
    // Found by its bytes, under a new time: the record takes the time, so
    // that the next run finds it by its time again.
    recorded_output entry = *found;
    if (const recorded_output now = output_entry(folder, name); now.time != entry.time) {
        entry.time = now.time;
        journal_output(folder, std::move(entry));
    }
    return true;
}

} // namespace

bool track_file_as_recorded(const run_paths& paths, const recorded_output* entry, const std::string& recipe,
                            bin_reader& bin, const track_span& track, track_buffer& buffer)
{
    if (entry == nullptr || !entry->clean || entry->recipe != recipe)
        return false;
    switch (state_of_output(paths, *entry, buffer.sectors, sizeof buffer.sectors)) {
    case output_state::same:
        return true;
    case output_state::changed:
        return false;
    case output_state::unsure:
        break;
    }
    std::uint64_t file_hash = 0;
    return hash_file(output_path(paths, entry->name).c_str(), buffer.sectors, sizeof buffer.sectors, file_hash) &&
           file_hash == hash_of_raw_track(bin, track, buffer);
}

// The record says the track's file is whole and unchanged: it is kept.
// --lossless proves each file as it is written: it keeps no track unread.
bool track_is_kept(track_writer& writer, std::int32_t number, const track_span& track)
{
    const std::string* recipe = writer.format.lossless ? nullptr : recipe_of(writer, number);
    return recipe != nullptr &&
           keep_track_file(writer, name_track_file(number, track.is_audio != 0, writer.format).text, *recipe, track);
}

