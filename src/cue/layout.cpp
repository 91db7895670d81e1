#include "cue/layout.h"

namespace {

// The arithmetic of positions wraps as 32-bit two's complement, whatever the
// sheet holds, rather than overflowing.
std::int32_t wrapping_sub(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

std::int32_t wrapping_add(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

// A last track that would end before it starts gets this many sectors.
constexpr std::int32_t fallback_last_length = 32;

track_span place_track(const cue_sheet& sheet, const disc_layout& layout, std::int32_t number,
                       std::int32_t pregap_total)
{
    const track_record& record = sheet.records[number];
    track_span track{0, 0, record.pregap_frames, record.is_audio, record.is_mode2};
    const std::int32_t count = sheet.track_count;
    if (number == count) {
        // The last track runs from the previous track's end to the end of the BIN.
        track.length_sectors = record.bin_sectors;
        if (count > 1) {
            const track_span& previous = layout.tracks[number - 1];
            track.length_sectors = wrapping_sub(track.length_sectors,
                                                wrapping_add(previous.start_sector, previous.length_sectors));
        }
        if (track.length_sectors < 0)
            track.length_sectors = fallback_last_length;
        track.start_sector = wrapping_sub(record.index1_frame, pregap_total);
        return track;
    }
    track.start_sector = number == 1 ? 0 : wrapping_sub(record.index1_frame, pregap_total);
    track.length_sectors = wrapping_sub(sheet.records[number + 1].index1_frame, record.index1_frame);
    // An audio track's own PREGAP is not part of its audio in the BIN.
    if (record.is_audio != 0 && record.pregap_frames > 0)
        track.length_sectors = wrapping_sub(track.length_sectors, record.pregap_frames);
    return track;
}

} // namespace

disc_layout lay_out_tracks(const cue_sheet& sheet)
{
    disc_layout layout{};
    layout.track_count = sheet.track_count;
    std::int32_t pregap_total = 0;
    for (std::int32_t number = 1; number <= sheet.track_count; ++number) {
        layout.tracks[number] = place_track(sheet, layout, number, pregap_total);
        // An INDEX 00 means the gap is in the BIN: the tracks after this one
        // are not shifted by the PREGAPs before it.
        const std::int32_t pregap = sheet.records[number].pregap_frames;
        pregap_total = pregap < 0 ? 0 : wrapping_add(pregap_total, pregap);
    }
    return layout;
}

msf_time to_msf(std::int32_t frame_count)
{
    const std::int32_t whole_seconds = frame_count / 75;
    const std::uint32_t seconds = static_cast<std::uint32_t>(whole_seconds);
    const std::uint32_t minutes = seconds / 60;
    return msf_time{minutes, seconds - minutes * 60,
                    static_cast<std::uint32_t>(frame_count) - seconds * 75};
}
