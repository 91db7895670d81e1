#include "app/sheet_report.h"

#include "base/platform.h"
#include "cue/disc_source.h"
#include "cue/layout.h"
#include "output/folder_owner.h"
#include "output/output_names.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace {

// The size of a file of the output folder; -1 when it has none by that name.
std::int64_t output_file_size(const run_paths& paths, const char* name)
{
    const file_stream file = open_regular_file(output_path(paths, name).c_str());
    return file ? file_size(file.get()) : -1;
}

// Every line this program appends starts so.
constexpr char report_line_start[] = "{\"sheet\":";

// The folder a path names a file in: up to its last separator (not
// included but for the root), "." for none.
std::string folder_part(const std::string& path)
{
    const std::size_t name = static_cast<std::size_t>(base_name(path.c_str()) - path.c_str());
    return name == 0 ? std::string(".") : path.substr(0, name > 1 ? name - 1 : name);
}

// The two paths name one folder, whether it is there yet or not.
bool same_place(const std::string& a, const std::string& b)
{
    return same_folder(a.c_str(), b.c_str()) || same_file_name(full_path(a.c_str()).c_str(), full_path(b.c_str()).c_str());
}

std::string refusal(const std::string& report_path, const std::string& why, const char* fix)
{
    return "--report " + report_path + ": " + why + "; " + fix;
}

} // namespace

std::string report_file_refusal(const std::string& report_path, const std::vector<const char*>& sheets,
                                const output_naming& naming)
{
    const char* own_file = "give the report a file of its own";
    const path_kind kind = kind_of_path(report_path.c_str());
    const bool exists = kind != path_kind::missing;
    if (kind == path_kind::directory || (exists && !open_regular_file(report_path.c_str())))
        return refusal(report_path, "that is not a regular file (a folder, FIFO or device)", own_file);
    const file_identity report = identify_file(report_path.c_str(), true);
    const std::string report_folder = folder_part(report_path);
    for (const char* sheet : sheets) {
        if (report.known && identify_file(sheet, true) == report)
            return refusal(report_path, "that is a sheet of this call", own_file);
        // An archive gives each sheet it holds, each with its own folder.
        for (const disc_name& disc : name_discs(sheet)) {
            const std::string name = full_name(disc);
            const disc_source source = read_disc_source(disc);
            for (const std::string& file : source.files)
                if (report.known && identify_file(file.c_str(), true) == report)
                    return refusal(report_path, "that is a file " + name + " is read from", own_file);
            run_paths paths{};
            if (derive_paths(naming_path(disc).c_str(), paths, naming) &&
                same_place(report_folder, output_dir_path(paths)))
                return refusal(report_path, "that lies in the output folder of " + name,
                               "give the report a file outside the output folders");
        }
    }
    std::string start;
    if (exists && read_file_start(report_path.c_str(), start, sizeof report_line_start - 1) && !start.empty() &&
        start != report_line_start)
        return refusal(report_path, "that file holds something other than report lines",
                       "give the report a new file, or one that holds earlier reports");
    return {};
}

void record_tracks(sheet_record& record, const run_paths& paths, const disc_layout& layout,
                   const track_format& format, const std::vector<bool>* written)
{
    record.tracks.clear();
    for (std::int32_t number = first_track_file(layout); number <= layout.track_count; ++number) {
        const track_span& track = layout.tracks[number];
        track_entry entry;
        entry.number = number;
        entry.file = name_track_file(number, track.is_audio != 0, format).text;
        entry.is_audio = track.is_audio != 0;
        entry.sectors = std::max(track.length_sectors, 0);
        if (written == nullptr || (*written)[static_cast<std::size_t>(number)])
            entry.bytes = output_file_size(paths, entry.file.c_str());
        record.tracks.push_back(entry);
    }
}

const char* sheet_status(const sheet_record& record, int exit_status)
{
    if (record.skipped)
        return "skipped";
    if (!record.finished)
        return "error";
    return exit_status == 0 ? "done" : "problems";
}

std::string report_line(const sheet_record& record, int exit_status)
{
    using json = nlohmann::ordered_json;
    json tracks = json::array();
    for (const track_entry& track : record.tracks) {
        tracks.push_back(json{{"number", track.number},
                              {"file", track.file},
                              {"kind", track.is_audio ? "audio" : "data"},
                              {"sectors", track.sectors},
                              {"bytes", track.bytes < 0 ? json(nullptr) : json(track.bytes)}});
    }
    json line{{"sheet", record.sheet},
              {"output", record.has_folder ? json(record.out_parent + record.out_name) : json(nullptr)},
              {"status", sheet_status(record, exit_status)},
              {"seconds", std::round(record.seconds * 1000) / 1000},
              {"tracks", tracks},
              {"problems", record.problems}};
    // Only a run that hashed its files has them, so other lines stay as they were.
    if (!record.files.empty()) {
        json files = json::array();
        for (const file_entry& file : record.files)
            files.push_back(json{{"name", file.name},
                                 {"size", file.digest.size},
                                 {"crc32", crc32_hex(file.digest.crc32)},
                                 {"md5", hex_of(file.digest.md5)},
                                 {"sha1", hex_of(file.digest.sha1)}});
        line["files"] = std::move(files);
    }
    // A sheet in an archive: the disk space its files took, unpacked, while it ran.
    if (record.unpacked_bytes >= 0)
        line["unpacked_bytes"] = record.unpacked_bytes;
    return line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

bool append_report_line(console& c, const std::string& report_path, const sheet_record& record, int exit_status)
{
    if (append_to_file(report_path.c_str(), report_line(record, exit_status)))
        return true;
    report(c, "cannot append to %s: %s", report_path.c_str(), std::strerror(errno));
    return false;
}
