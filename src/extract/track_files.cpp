#include "extract/track_files.h"

#include <cstdio>

track_file_name name_track_file(std::int32_t number, bool is_audio)
{
    track_file_name name;
    std::snprintf(name.text, sizeof name.text, is_audio ? "track%i.ogg" : "track%i.iso", static_cast<int>(number));
    return name;
}
