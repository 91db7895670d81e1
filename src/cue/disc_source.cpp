#include "cue/disc_source.h"

#include "cue/chd_source.h"
#include "cue/cue_source.h"

namespace {

struct source_kind {
    bool (*is_kind)(const char* path);
    disc_source (*read)(const char* path);
};

// The first kind that takes the path reads it; a CUE sheet takes any.
constexpr source_kind source_kinds[] = {
    {is_chd_source, read_chd_source},
    {is_cue_source, read_cue_source},
};

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

disc_source read_disc_source(const char* path)
{
    for (const source_kind& kind : source_kinds) {
        if (!kind.is_kind(path))
            continue;
        disc_source source = kind.read(path);
        if (source.result == disc_source::state::read)
            keep_hidden_track(source);
        return source;
    }
    return disc_source{};
}
