#include "extract/output_names.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char temporary_suffix[] = ".trackcarve-tmp";

const char* track_file_extension(bool is_audio, const track_format& format)
{
    if (is_audio)
        return format.codec == audio_codec::flac ? "flac" : "ogg";
    return format.raw_data ? "bin" : "iso";
}

} // namespace

track_file_name name_track_file(std::int32_t number, bool is_audio, const track_format& format)
{
    track_file_name name;
    std::snprintf(name.text, sizeof name.text, "track%i.%s", static_cast<int>(number),
                  track_file_extension(is_audio, format));
    return name;
}

std::string toc_file_name(const run_paths& paths) { return std::string(paths.out_name) + ".toc"; }

std::string emulator_sheet_file_name(const run_paths& paths) { return std::string(paths.out_name) + ".cue"; }

const char* owner_file_name() { return ".trackcarve-owner"; }

const char* folder_lock_file_name() { return ".trackcarve-lock"; }

std::string temporary_file_name(const char* name, unsigned long process_id)
{
    std::string temporary(1, '.');
    temporary.append(name).append(1, '.').append(std::to_string(process_id)).append(temporary_suffix);
    return temporary;
}

unsigned long temporary_owner(const char* name)
{
    const std::size_t length = std::strlen(name);
    const std::size_t suffix = sizeof temporary_suffix - 1;
    if (name[0] != '.' || length <= suffix || std::strcmp(name + length - suffix, temporary_suffix) != 0)
        return 0;
    std::size_t digits = length - suffix;
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9')
        --digits;
    if (digits == length - suffix || digits < 2 || name[digits - 1] != '.')
        return 0;
    return std::strtoul(name + digits, nullptr, 10);
}
