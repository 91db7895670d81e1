#include "cue/disc_source.h"

#include "cue/cue_source.h"

namespace {

struct source_kind {
    bool (*is_kind)(const char* path);
    disc_source (*read)(const char* path);
};

// The first kind that takes the path reads it; a CUE sheet takes any.
constexpr source_kind source_kinds[] = {
    {is_cue_source, read_cue_source},
};

} // namespace

disc_source read_disc_source(const char* path)
{
    for (const source_kind& kind : source_kinds)
        if (kind.is_kind(path))
            return kind.read(path);
    return disc_source{};
}
