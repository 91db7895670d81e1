#include "extract/lossless_data.h"

#include "base/platform.h"
#include "cue/sector_codes.h"
#include "output/output_names.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

bool regenerates(const unsigned char* sector, std::int64_t lba, bool mode2)
{
    const auto address = static_cast<std::int32_t>(lba);
    return mode2 ? is_regenerable_mode2_form1_sector(sector, address) : is_regenerable_mode1_sector(sector, address);
}

bool is_zero_sector(const unsigned char* sector)
{
    return sector[0] == 0 && std::memcmp(sector, sector + 1, raw_sector_size - 1) == 0;
}

void add_zero_sector(std::vector<sector_run>& runs, std::int64_t index)
{
    if (!runs.empty() && runs.back().first + runs.back().count == index)
        ++runs.back().count;
    else
        runs.push_back({index, 1});
}

bool in_runs(const std::vector<sector_run>& runs, std::int64_t index)
{
    for (const sector_run& run : runs)
        if (run.first <= index && index < run.first + run.count)
            return true;
    return false;
}

// How many of the count sectors, from the first on, the .iso gives back:
// each regenerates, or is all zeros (the gap of silence that a one-file-a-
// track dump puts at the head of the next track's file, say), which the
// zero runs note. `first` is the first one's index in the track.
int regenerating_sectors(const unsigned char* sectors, int count, std::int64_t first, std::int64_t first_lba,
                         bool mode2, std::vector<sector_run>& zero_runs)
{
    int good = 0;
    for (; good < count; ++good) {
        const unsigned char* sector = sectors + good * raw_sector_size;
        if (regenerates(sector, first_lba + first + good, mode2))
            continue;
        if (!is_zero_sector(sector))
            break;
        add_zero_sector(zero_runs, first + good);
    }
    return good;
}

// The raw sectors of the track's first `sectors` sectors, regenerated from
// what the .iso holds of them: our own output, read back, not the BIN.
bool write_regenerated(const std::string& iso_path, std::int64_t sectors, std::int64_t first_lba, bool mode2,
                       const std::vector<sector_run>& zero_runs, std::FILE* raw)
{
    const file_stream iso = open_regular_file(iso_path.c_str());
    if (!iso)
        return false;
    constexpr int batch = 16;
    unsigned char user[batch * user_data_size];
    unsigned char regenerated[batch * raw_sector_size];
    for (std::int64_t done = 0; done < sectors;) {
        const auto count = static_cast<std::size_t>(std::min<std::int64_t>(sectors - done, batch));
        if (std::fread(user, user_data_size, count, iso.get()) != count)
            return false;
        for (std::size_t i = 0; i < count; ++i) {
            const std::int64_t index = done + static_cast<std::int64_t>(i);
            if (in_runs(zero_runs, index))
                std::memset(regenerated + i * raw_sector_size, 0, raw_sector_size);
            else
                regenerate_sector(regenerated + i * raw_sector_size, user + i * user_data_size,
                                  static_cast<std::int32_t>(first_lba + index), mode2);
        }
        if (std::fwrite(regenerated, raw_sector_size, count, raw) != count)
            return false;
        done += static_cast<std::int64_t>(count);
    }
    return true;
}

// The copy's state: which file it writes, and how far.
struct lossless_copy {
    output_file iso;
    output_file raw;
    bool switched = false;             // writing raw sectors since a sector that does not regenerate
    std::int64_t sectors_written = 0;  // whole sectors put in either file
    std::int64_t raw_bytes = 0;        // bytes in the raw file
    std::int64_t missing = 0;          // sectors the BIN could not supply in full
    int error = 0;                     // errno of the first write that failed
    const char* failed_path = nullptr;
    std::vector<sector_run> zero_runs; // of the .iso: its sectors that are zeros in the BIN
};

void move_user_data_down(unsigned char* sectors, int count, int offset)
{
    for (int i = 0; i < count; ++i)
        std::memmove(sectors + i * user_data_size, sectors + i * raw_sector_size + offset, user_data_size);
}

// From here on the track is raw: its sectors so far come back from the .iso.
bool switch_to_raw(lossless_copy& copy, const output_folder& folder, const char* raw_name, std::int64_t first_lba,
                   bool mode2)
{
    copy.switched = true;
    if (const int failure = open_output_file(copy.raw, folder, raw_name)) {
        copy.error = failure;
        copy.failed_path = raw_name;
        return false;
    }
    std::setvbuf(copy.raw.stream.get(), nullptr, _IONBF, 0);
    if (!write_regenerated(copy.iso.temporary_path, copy.sectors_written, first_lba, mode2, copy.zero_runs,
                           copy.raw.stream.get())) {
        copy.error = errno != 0 ? errno : EIO;
        return false;
    }
    copy.raw_bytes = copy.sectors_written * raw_sector_size;
    return true;
}

void copy_sectors(lossless_copy& copy, track_writer& writer, const track_span& track, const char* raw_name,
                  std::atomic<std::int64_t>& progress)
{
    const bool mode2 = track.is_mode2 != 0;
    const std::int64_t length = std::max(track.length_sectors, 0);
    const std::int64_t first_lba = track.start_sector;
    unsigned char* const sectors = writer.buffer->sectors;
    // A negative start cannot be read from: nothing regenerates.
    std::int64_t position = track.start_sector < 0 ? -1 : std::int64_t{track.start_sector} * raw_sector_size;
    if (position < 0 && !switch_to_raw(copy, *writer.folder, raw_name, first_lba, mode2))
        return;
    while (position >= 0 && copy.sectors_written < length) {
        const int count = static_cast<int>(std::min<std::int64_t>(length - copy.sectors_written, sectors_per_read));
        const auto wanted = static_cast<std::size_t>(count) * raw_sector_size;
        const std::size_t got = read_bin(writer.bin, position, sectors, wanted);
        const int whole = static_cast<int>(got / raw_sector_size);
        progress += static_cast<std::int64_t>(got);
        // A sector that does not regenerate, or the end of the BIN: raw from here.
        if (!copy.switched &&
            regenerating_sectors(sectors, whole, copy.sectors_written, first_lba, mode2, copy.zero_runs) < count &&
            !switch_to_raw(copy, *writer.folder, raw_name, first_lba, mode2))
            return;
        std::FILE* to = copy.switched ? copy.raw.stream.get() : copy.iso.stream.get();
        if (!copy.switched)
            move_user_data_down(sectors, count, mode2 ? 24 : 16);
        const std::size_t bytes = copy.switched ? got : static_cast<std::size_t>(count) * user_data_size;
        if (std::fwrite(sectors, 1, bytes, to) != bytes) {
            copy.error = errno;
            return;
        }
        copy.raw_bytes += copy.switched ? static_cast<std::int64_t>(got) : 0;
        copy.sectors_written += whole;
        position += static_cast<std::int64_t>(wanted);
        if (got < wanted)
            break;   // the end of the input
    }
    // What the BIN lacks is zeros, as in any raw copy.
    copy.missing = length - copy.sectors_written;
    if (copy.switched && !append_zeros(copy.raw.stream.get(), length * raw_sector_size - copy.raw_bytes))
        copy.error = errno;
}

} // namespace

track_outcome write_lossless_data_track(voice c, track_writer& writer, std::int32_t number, const track_span& track,
                                        std::atomic<std::int64_t>& progress)
{
    track_format iso_format = writer.format;
    iso_format.raw_data = false;
    iso_format.raw_tracks = nullptr;
    track_format raw_format = iso_format;
    raw_format.raw_data = true;
    const track_file_name iso_name = name_track_file(number, false, iso_format);
    const track_file_name raw_name = name_track_file(number, false, raw_format);

    lossless_copy copy;
    if (const int failure = open_output_file(copy.iso, *writer.folder, iso_name.text)) {
        say(c, "Processing file... %s\n", iso_name.text);
        report(c, "cannot create %s: %s", copy.iso.final_path.c_str(), describe_open_failure(failure));
        return track_outcome{false, false};
    }
    std::setvbuf(copy.iso.stream.get(), nullptr, _IONBF, 0);
    copy_sectors(copy, writer, track, raw_name.text, progress);

    output_file& kept = copy.switched ? copy.raw : copy.iso;
    say(c, "Processing file... %s\n", copy.switched ? raw_name.text : iso_name.text);
    if (copy.failed_path != nullptr) {
        report(c, "cannot create %s: %s", copy.raw.final_path.c_str(), describe_open_failure(copy.error));
        return track_outcome{false, false};
    }
    if (copy.error != 0) {
        report(c, "cannot write %s: %s", kept.final_path.c_str(), std::strerror(copy.error));
        return track_outcome{false, false};
    }
    if (copy.missing > 0)
        report(c, "%s: the BIN ends %lld sectors before the end of the track; padded with zeros",
               base_name(kept.final_path.c_str()), static_cast<long long>(copy.missing));
    if (copy.switched)
        discard_output_file(copy.iso);
    track_outcome outcome{commit_output_file(c, kept), copy.missing == 0};
    outcome.raw = copy.switched;
    outcome.proven = outcome.complete;
    if (!copy.switched)
        outcome.zero_sectors = std::move(copy.zero_runs);
    return outcome;
}
