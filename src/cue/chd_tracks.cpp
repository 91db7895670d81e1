#include "cue/chd_tracks.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {

constexpr std::int32_t track_padding = 4;

struct sector_type {
    const char* name;
    chd_sector_kind kind;
};

constexpr sector_type sector_types[] = {
    {"AUDIO", chd_sector_kind::audio},         {"MODE1_RAW", chd_sector_kind::mode1_raw},
    {"MODE2_RAW", chd_sector_kind::mode2_raw}, {"MODE1", chd_sector_kind::mode1_data},
    {"MODE2", chd_sector_kind::mode2_data},    {"MODE2_FORM_MIX", chd_sector_kind::mode2_data},
};

// An entry's words, KEY:VALUE each; PREGAP and its type are CHT2's alone.
struct track_fields {
    std::int64_t number = -1;
    std::string type;
    std::int64_t frames = -1;
    std::int64_t pregap = 0;
    std::string pregap_type;
};

bool read_number(std::string_view text, std::int64_t& value)
{
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc{} && stop == end && value >= 0 && value <= max_chd_frames;
}

bool read_fields(const std::string& text, track_fields& fields)
{
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t start = rest.find_first_not_of(" \t\r\n");
        if (start == std::string_view::npos)
            break;
        rest.remove_prefix(start);
        const std::string_view word = rest.substr(0, rest.find_first_of(" \t\r\n"));
        rest.remove_prefix(word.size());
        const std::size_t colon = word.find(':');
        if (colon == std::string_view::npos)
            return false;
        const std::string_view key = word.substr(0, colon);
        const std::string_view value = word.substr(colon + 1);
        if ((key == "TRACK" && !read_number(value, fields.number)) ||
            (key == "FRAMES" && !read_number(value, fields.frames)) ||
            (key == "PREGAP" && !read_number(value, fields.pregap)))
            return false;
        if (key == "TYPE")
            fields.type = value;
        else if (key == "PGTYPE")
            fields.pregap_type = value;
    }
    return fields.number >= 0 && fields.frames >= 0 && !fields.type.empty();
}

std::string which_image(const std::vector<chd_metadata>& metadata)
{
    const auto has = [&metadata](const char (&tag)[5]) {
        return std::any_of(metadata.begin(), metadata.end(),
                           [&tag](const chd_metadata& entry) { return entry.tag == four_cc(tag); });
    };
    if (has("GDDD"))
        return "is a hard-disk image, not a CD: it has no tracks to split";
    if (has("CHGD"))
        return "is a GD-ROM image, not a CD: trackcarve splits CDs only";
    if (has("DVD "))
        return "is a DVD image, not a CD: 'chdman extractdvd' gives its .iso";
    if (has("CHCD"))
        return "keeps its track table in the binary form of old CHDs, which trackcarve does not read; "
               "'chdman extractcd' gives its BIN and CUE sheet";
    return "holds no CD: it has no track table";
}

std::string damaged_entry(std::size_t index)
{
    return std::string("is damaged: entry ") + std::to_string(index + 1) +
           " of its track table does not read as a CD track's";
}

// Reads one track's entry; an empty string when it is a CD track's.
std::string read_track(const chd_metadata& entry, std::size_t index, chd_track& track)
{
    track_fields fields;
    if (!read_fields(entry.text, fields) || fields.number != static_cast<std::int64_t>(index) + 1 ||
        fields.frames == 0)
        return damaged_entry(index);
    const auto type = std::find_if(std::begin(sector_types), std::end(sector_types),
                                   [&fields](const sector_type& t) { return fields.type == t.name; });
    if (type == std::end(sector_types)) {
        if (fields.type == "MODE2_FORM1" || fields.type == "MODE2_FORM2")
            return std::string("keeps track ") + std::to_string(index + 1) + " as " + fields.type +
                   " sectors without their XA subheaders, which trackcarve does not read";
        return damaged_entry(index);
    }
    track.kind = type->kind;
    track.frames = static_cast<std::int32_t>(fields.frames);
    track.pregap = static_cast<std::int32_t>(fields.pregap);
    track.pregap_kept = track.pregap > 0 && fields.pregap_type.size() > 1 && fields.pregap_type[0] == 'V';
    if (track.pregap_kept && track.pregap > track.frames)
        return damaged_entry(index);
    return {};
}

} // namespace

chd_track_table read_chd_tracks(const std::vector<chd_metadata>& metadata, std::uint64_t frames)
{
    chd_track_table table;
    const auto is_track = [](const chd_metadata& entry) {
        return entry.tag == four_cc("CHT2") || entry.tag == four_cc("CHTR");
    };
    std::int64_t chd_frame = 0;
    std::int32_t pregap_shift = 0;   // the disc's frames before a track that no frame of the CHD keeps
    std::int32_t track_one_gap = 0;  // track 1's kept pregap, before LBA 0
    for (const chd_metadata& entry : metadata) {
        if (!is_track(entry))
            continue;
        if (table.tracks.size() == max_tracks) {
            table.problem = {std::string("is damaged: its track table lists more than ") + std::to_string(max_tracks) +
                             " tracks"};
            return table;
        }
        chd_track track{};
        if (std::string problem = read_track(entry, table.tracks.size(), track); !problem.empty()) {
            table.problem = {std::move(problem)};
            return table;
        }
        if (table.tracks.empty())
            track_one_gap = track.pregap_kept ? track.pregap : 0;
        else if (!track.pregap_kept)
            pregap_shift += track.pregap;
        track.chd_frame = chd_frame;
        track.bin_sector = table.bin_sectors;
        chd_frame += (track.frames + track_padding - 1) / track_padding * track_padding;
        table.bin_sectors += track.frames;
        if (chd_frame > max_chd_frames || static_cast<std::uint64_t>(chd_frame) > frames) {
            table.problem = {"is damaged: its track table lists more frames than its hunks hold"};
            return table;
        }
        track.disc_address = static_cast<std::int32_t>(track.bin_sector) - track_one_gap + pregap_shift;
        table.tracks.push_back(track);
    }
    if (table.tracks.empty())
        table.problem = {which_image(metadata)};
    return table;
}

void fill_chd_sheet(const std::vector<chd_track>& tracks, std::int64_t bin_sectors, const std::string& bin_name,
                    cue_sheet& sheet)
{
    sheet.track_count = static_cast<std::int32_t>(tracks.size());
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const chd_track& track = tracks[i];
        track_record& record = sheet.records[i + 1];
        record.index1_frame = static_cast<std::int32_t>(track.bin_sector) + (track.pregap_kept ? track.pregap : 0);
        record.pregap_frames = track.pregap == 0 ? 0 : track.pregap_kept ? -1 : track.pregap;
        record.bin_sectors = static_cast<std::int32_t>(bin_sectors);
        record.is_audio = track.kind == chd_sector_kind::audio ? 1 : 0;
        record.is_mode2 =
            track.kind == chd_sector_kind::mode2_raw || track.kind == chd_sector_kind::mode2_data ? 1 : 0;
        record.flags[0] = '\0';
    }
    sheet.bin_files.push_back(bin_file_entry{bin_name, 0, bin_sectors * raw_sector_size});
}
