#include "cue/layout.h"

#include <algorithm>

namespace {

// The arithmetic of positions wraps as 32-bit two's complement, whatever the
// sheet holds, rather than overflowing.
std::int32_t wrapping_sub(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

// A last track that would end before it starts gets this many sectors.
constexpr std::int32_t fallback_last_length = 32;

// A track starts at its INDEX 01 and ends where the next one starts, so an
// INDEX 00 gap stays with the track before it; the last runs to the end of
// the BIN. A PREGAP is silence no file holds: it moves nothing.
track_span place_track(const cue_sheet& sheet, std::int32_t number)
{
    const track_record& record = sheet.records[number];
    track_span track{record.index1_frame, 0, record.pregap_frames, record.is_audio, record.is_mode2};
    if (number < sheet.track_count) {
        track.length_sectors = wrapping_sub(sheet.records[number + 1].index1_frame, record.index1_frame);
        return track;
    }
    track.length_sectors = wrapping_sub(record.bin_sectors, record.index1_frame);
    if (track.length_sectors < 0)
        track.length_sectors = fallback_last_length;
    return track;
}

} // namespace

disc_layout lay_out_tracks(const cue_sheet& sheet)
{
    disc_layout layout{};
    layout.track_count = sheet.track_count;
    for (std::int32_t number = 1; number <= sheet.track_count; ++number)
        layout.tracks[number] = place_track(sheet, number);
    return layout;
}

std::int64_t disc_sector(const cue_sheet& sheet, const disc_layout& layout, std::int32_t number)
{
    constexpr std::int64_t first_lead_out = 6750;
    constexpr std::int64_t later_lead_out = 2250;
    constexpr std::int64_t lead_in = 4500;
    constexpr std::int64_t session_gap = 150;
    std::int64_t sector = std::int64_t{layout.tracks[number].start_sector} - layout.tracks[1].start_sector;
    int session_changes = 0;
    for (std::int32_t n = 2; n <= number; ++n) {
        const track_record& track = sheet.records[n];
        sector += std::max(track.pregap_frames, 0);
        if (track.session == sheet.records[n - 1].session)
            continue;
        sector += (session_changes++ == 0 ? first_lead_out : later_lead_out) + lead_in;
        if (track.pregap_frames <= 0 && !track.gap_in_bin)
            sector += session_gap;
    }
    return sector;
}

std::int32_t first_track_file(const disc_layout& layout) { return layout.tracks[0].length_sectors > 0 ? 0 : 1; }

msf_time to_msf(std::int32_t frame_count)
{
    const std::int32_t whole_seconds = frame_count / 75;
    const std::uint32_t seconds = static_cast<std::uint32_t>(whole_seconds);
    const std::uint32_t minutes = seconds / 60;
    return msf_time{minutes, seconds - minutes * 60,
                    static_cast<std::uint32_t>(frame_count) - seconds * 75};
}
