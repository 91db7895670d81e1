#include "app/sheet_report.h"

#include "base/platform.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstring>

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
    const json line{{"sheet", record.sheet},
                    {"output", record.out_name.empty() ? json(nullptr) : json(record.out_parent + record.out_name)},
                    {"status", sheet_status(record, exit_status)},
                    {"seconds", std::round(record.seconds * 1000) / 1000},
                    {"tracks", tracks},
                    {"problems", record.problems}};
    return line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

bool append_report_line(console& c, const std::string& report_path, const sheet_record& record, int exit_status)
{
    if (append_to_file(report_path.c_str(), report_line(record, exit_status)))
        return true;
    report(c, "cannot append to %s: %s", report_path.c_str(), std::strerror(errno));
    return false;
}
