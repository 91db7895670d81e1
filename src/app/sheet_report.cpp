#include "app/sheet_report.h"

#include "base/platform.h"
#include "cue/layout.h"
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

} // namespace

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
