#include "cue/disc_source.h"

#include "base/paths.h"
#include "base/platform.h"
#include "cue/archive_source.h"
#include "cue/chd_source.h"
#include "cue/cue_source.h"

namespace {

struct source_kind {
    bool (*is_kind)(const char* path);
    std::vector<std::string> (*list_sheets)(const char* path);   // null: the path is the sheet
    disc_source (*read)(const disc_name& disc);
};

// The first kind that takes the path reads it; a CUE sheet takes any.
constexpr source_kind source_kinds[] = {
    {is_chd_source, nullptr, read_chd_source},
    {is_archive_source, list_archive_sheets, read_archive_source},
    {is_cue_source, nullptr, read_cue_source},
};

const source_kind& kind_of(const char* path)
{
    for (const source_kind& kind : source_kinds)
        if (kind.is_kind(path))
            return kind;
    return source_kinds[std::size(source_kinds) - 1];
}

// Audio before an audio track 1's INDEX 01 (a hidden track, as on many CDs
// of the 1990s) is a track of its own; silence there is only the gap.
void keep_hidden_track(disc_source& source)
{
    const track_span& first = source.layout.tracks[1];
    if (source.layout.track_count < 1 || first.is_audio == 0 || first.start_sector <= 0)
        return;
    bin_reader reader;
    reader.bin = &source.bin;
    if (holds_nonzero_byte(reader, 0, std::int64_t{first.start_sector} * raw_sector_size))
        source.layout.tracks[0] = track_span{0, first.start_sector, 0, 1, 0};
}

} // namespace

std::string full_name(const disc_name& disc) { return disc.member.empty() ? disc.path : disc.path + "/" + disc.member; }

std::string shown_name(const disc_name& disc)
{
    const std::string name = base_name(disc.path.c_str());
    return disc.member.empty() ? name : name + "/" + disc.member;
}

std::string naming_path(const disc_name& disc)
{
    if (disc.member.empty())
        return disc.path;
    const char* path = disc.path.c_str();
    return std::string(path, static_cast<std::size_t>(base_name(path) - path)) + base_name(disc.member.c_str());
}

std::vector<disc_name> name_discs(const char* path)
{
    const source_kind& kind = kind_of(path);
    if (kind.list_sheets == nullptr)
        return {disc_name{path, ""}};
    std::vector<disc_name> discs;
    for (std::string& sheet : kind.list_sheets(path))
        discs.push_back(disc_name{path, std::move(sheet)});
    // An archive without a sheet is still one disc: its read says what is amiss.
    if (discs.empty())
        discs.push_back(disc_name{path, ""});
    return discs;
}

disc_source read_disc_source(const disc_name& disc)
{
    disc_source source = kind_of(disc.path.c_str()).read(disc);
    // Files still packed are read once unpacked, not by their names here.
    if (source.result == disc_source::state::read && source.packed.empty())
        keep_hidden_track(source);
    return source;
}

bool unpack_disc_source(disc_source& source, temporary_files& temporaries,
                        const std::function<std::string(std::size_t n)>& temporary_path, std::string& failure)
{
    if (source.packed.empty())
        return true;
    if (!unpack_archive_files(source, temporaries, temporary_path, failure))
        return false;
    keep_hidden_track(source);
    return true;
}

void remove_unpacked_files(disc_source& source, temporary_files& temporaries)
{
    for (packed_file& file : source.packed) {
        if (file.unpacked_path.empty())
            continue;
        remove_file(file.unpacked_path.c_str());
        forget_temporary(temporaries, file.unpacked_path.c_str());
        file.unpacked_path.clear();
    }
}
