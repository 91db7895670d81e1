#include "app/skip_check.h"

#include "base/platform.h"
#include "cue/disc_source.h"
#include "extract/track_recipe.h"
#include "extract/kept_tracks.h"
#include "extract/track_writer.h"
#include "output/emulator_sheet.h"
#include "output/folder_owner.h"
#include "output/output_names.h"
#include "output/split_record.h"
#include "output/toc_file.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

// A CUE sheet numbers its tracks in two digits: a disc of more has no
// emulator sheet, and so no complete split.
constexpr std::int32_t max_sheet_tracks = 99;

// The file holds exactly text, as the record says it was written.
bool holds_text(const run_paths& paths, const split_record& found, const std::string& name, const std::string& text)
{
    const recorded_output* entry = find_output(found, name);
    const std::string path = output_path(paths, name);
    std::string held;
    return entry != nullptr && entry->size == static_cast<std::int64_t>(text.size()) &&
           kind_of_path(path.c_str()) == path_kind::regular_file && read_file_start(path.c_str(), held, text.size() + 1) &&
           held == text;
}

std::vector<std::string> sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

// The record names exactly these files: none that earlier options made and
// this run would remove.
bool records_just(const split_record& found, std::vector<std::string> names)
{
    std::vector<std::string> recorded;
    for (const recorded_output& output : found.outputs)
        recorded.push_back(output.name);
    return sorted(recorded) == sorted(std::move(names));
}

} // namespace

bool split_is_done(const disc_name& disc, const run_paths& paths, const track_format& format,
                   const std::string& text_encoding, sheet_record& record)
{
    const std::string dir = output_dir_path(paths);
    std::string owner;
    split_record found;
    // --lossless proves each file as it writes it, and the record does not
    // hold its raw data tracks and manifest: such a split is made again.
    // A linked output folder is the run's to refuse.
    if (format.lossless || kind_of_path(dir.c_str()) != path_kind::directory || is_symbolic_link(dir.c_str()) ||
        !read_split_record(paths, found) || !found.complete || found.options != shaping_values(format) ||
        !read_folder_owner(paths, owner) || !same_file_name(owner.c_str(), owner_name_of(disc, paths).c_str()))
        return false;
    const disc_source source = read_disc_source(disc);
    const disc_layout& layout = source.layout;
    if (source.result != disc_source::state::read || source.bin.parts.empty() || layout.track_count <= 0 ||
        layout.track_count > max_sheet_tracks)
        return false;
    const std::string toc_name = toc_file_name(paths);
    const std::string sheet_name = emulator_sheet_file_name(paths);
    std::vector<std::string> names{toc_name, sheet_name};
    for (const companion_file& companion : source.companions)
        names.push_back(companion_file_name(paths, companion.extension));
    for (std::int32_t number = first_track_file(layout); number <= layout.track_count; ++number)
        names.emplace_back(name_track_file(number, layout.tracks[number].is_audio != 0, format).text);
    if (!records_just(found, names) || !holds_text(paths, found, toc_name, toc_text(layout, format)) ||
        !holds_text(paths, found, sheet_name,
                    emulator_sheet_text(source_name_of(disc, paths).c_str(), source.sheet, layout, format)))
        return false;
    for (const companion_file& companion : source.companions)
        if (!holds_text(paths, found, companion_file_name(paths, companion.extension), companion.bytes))
            return false;

    const std::vector<track_comments> comments = comments_for_disc(source.sheet, text_encoding);
    const std::vector<recorded_source> sources = source_states(source.files);
    const std::unique_ptr<track_buffer> buffer(new track_buffer);
    bin_reader bin;
    bin.bin = &source.bin;
    for (std::int32_t number = first_track_file(layout); number <= layout.track_count; ++number) {
        const auto n = static_cast<std::size_t>(number);
        const track_span& track = layout.tracks[number];
        const std::string name = name_track_file(number, track.is_audio != 0, format).text;
        const std::string recipe =
            track_recipe(number, track, source.bin, sources, format, n < comments.size() ? &comments[n] : nullptr);
        if (!track_file_as_recorded(paths, find_output(found, name), recipe, bin, track, *buffer))
            return false;
    }
    record_tracks(record, paths, layout, format, nullptr);
    return true;
}

void say_skipped(voice c, const run_paths& paths, const disc_name& disc)
{
    say(c, "Skipping %s: its split in %s is complete and up to date\n", shown_name(disc).c_str(),
        output_dir_path(paths).c_str());
}
