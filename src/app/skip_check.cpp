#include "app/skip_check.h"

#include "base/platform.h"
#include "cue/disc_source.h"
#include "output/emulator_sheet.h"
#include "output/folder_owner.h"
#include "output/output_names.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Every output the split made is a regular file written after the last
// change to any of its inputs.
bool outputs_are_newer(const run_paths& paths, const std::vector<std::string>& outputs, std::int64_t inputs_time)
{
    for (const std::string& name : outputs) {
        const std::string path = output_path(paths, name);
        std::int64_t time = 0;
        if (kind_of_path(path.c_str()) != path_kind::regular_file || !modification_time(path.c_str(), time) ||
            time <= inputs_time)
            return false;
    }
    return true;
}

// The latest change to a file the source is read from; false when one is missing.
bool latest_input_time(const std::vector<std::string>& files, std::int64_t& latest)
{
    latest = 0;
    for (const std::string& file : files) {
        std::int64_t time = 0;
        if (!modification_time(file.c_str(), time))
            return false;
        latest = std::max(latest, time);
    }
    return true;
}

} // namespace

bool split_is_done(const disc_name& disc, const run_paths& paths, const track_format& format, sheet_record& record)
{
    const disc_source source = read_disc_source(disc);
    const std::string sheet_name = emulator_sheet_file_name(paths);
    const std::string sheet_path = output_path(paths, sheet_name);
    std::string owner;
    std::vector<std::string> files;
    if (source.result != disc_source::state::read || source.bin.parts.empty() ||
        !read_sheet_source(sheet_path.c_str(), owner) ||
        !same_file_name(owner.c_str(), source_name_of(disc, paths).c_str()) ||
        !read_sheet_files(sheet_path.c_str(), files))
        return false;
    std::vector<std::string> expected;
    for (std::int32_t number = 1; number <= source.layout.track_count; ++number)
        expected.emplace_back(name_track_file(number, source.layout.tracks[number].is_audio != 0, format).text);
    // --lossless keeps a data track raw where its sectors do not all regenerate.
    track_format raw_format = format;
    raw_format.raw_data = true;
    for (std::size_t i = 0; format.lossless && i < expected.size() && i < files.size(); ++i)
        if (files[i] == name_track_file(static_cast<std::int32_t>(i) + 1, false, raw_format).text)
            expected[i] = files[i];
    std::int64_t inputs_time = 0;
    if (expected.empty() || files != expected || !latest_input_time(source.files, inputs_time))
        return false;
    files.push_back(sheet_name);
    files.push_back(toc_file_name(paths));
    if (first_track_file(source.layout) == 0)   // not in the emulator sheet, but a file of the split
        files.emplace_back(name_track_file(0, true, format).text);
    for (const companion_file& companion : source.companions)
        files.push_back(companion_file_name(paths, companion.extension));
    if (format.lossless)
        files.push_back(manifest_file_name(paths));
    if (!outputs_are_newer(paths, files, inputs_time))
        return false;
    record_tracks(record, paths, source.layout, format, nullptr);
    return true;
}

void say_skipped(voice c, const run_paths& paths, const disc_name& disc)
{
    say(c, "Skipping %s: its split in %s is complete and newer than its files\n", shown_name(disc).c_str(),
        output_dir_path(paths).c_str());
}
