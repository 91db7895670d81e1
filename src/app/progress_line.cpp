#include "app/progress_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double cd_bytes_per_second = 2352.0 * 75.0;

// "1:05" under an hour, "2:01:05" from there.
std::string clock_time(double seconds)
{
    const long whole = std::lround(std::max(seconds, 0.0));
    char text[32];
    if (whole < 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    return text;
}

// The columns a character takes on a terminal: two for the wide scripts of
// East Asia, none for a combining mark.
std::size_t columns_of(char32_t code)
{
    const auto in = [code](char32_t first, char32_t last) { return code >= first && code <= last; };
    if (in(0x0300, 0x036F) || in(0x1AB0, 0x1AFF) || in(0x1DC0, 0x1DFF) || in(0x20D0, 0x20FF) || in(0xFE20, 0xFE2F))
        return 0;
    if (in(0x1100, 0x115F) || in(0x2E80, 0xA4CF) || in(0xAC00, 0xD7A3) || in(0xF900, 0xFAFF) ||
        in(0xFE30, 0xFE4F) || in(0xFF00, 0xFF60) || in(0xFFE0, 0xFFE6) || in(0x1F300, 0x1F64F) ||
        in(0x20000, 0x3FFFD))
        return 2;
    return 1;
}

// The UTF-8 character at text[at], its length in bytes; 0 when the bytes
// there are no character.
std::size_t character_at(const std::string& text, std::size_t at, char32_t& code)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                               : lead >= 0xF0 && lead < 0xF5                 ? 4
                                                                             : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    code = length == 1 ? lead : static_cast<char32_t>(lead & (0x7F >> length));
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    return length;
}

// The text as it shows in at most `room` columns: a control character or a
// byte that is no UTF-8 as '?', cut with "..." where it would not fit.
progress_line fitted(const std::string& text, std::size_t room)
{
    std::string shown;
    std::size_t used = 0;
    std::size_t cut_at = 0;   // the bytes of shown that leave room for "..."
    std::size_t cut_columns = 0;
    for (std::size_t at = 0; at < text.size();) {
        char32_t code = 0;
        std::size_t length = character_at(text, at, code);
        const bool shown_as_is = length > 0 && code >= 0x20 && code != 0x7F && (code < 0x80 || code >= 0xA0);
        if (!shown_as_is) {
            code = '?';
            length = std::max<std::size_t>(length, 1);
        }
        const std::size_t width = columns_of(code);
        if (used + width > room) {
            shown.resize(cut_at);
            if (room < 3)
                return progress_line{shown, cut_columns};
            return progress_line{shown.append("..."), cut_columns + 3};
        }
        if (shown_as_is)
            shown.append(text, at, length);
        else
            shown.push_back('?');
        used += width;
        if (used + 3 <= room) {
            cut_at = shown.size();
            cut_columns = used;
        }
        at += length;
    }
    return progress_line{shown, used};
}

// The fraction of the call's work done: the sheets not read yet are taken
// to hold as much work as the mean of those read.
double fraction_done(const progress_figures& figures)
{
    if (figures.work_known > 0 && figures.sheets_read > 0) {
        const double total = figures.work_known * static_cast<double>(figures.sheet_count) /
                             static_cast<double>(figures.sheets_read);
        return std::clamp(figures.work_done / total, 0.0, 1.0);
    }
    const std::size_t sheets = std::max<std::size_t>(figures.sheet_count, 1);
    return static_cast<double>(figures.sheets_played) / static_cast<double>(sheets);
}

// ", sheet 2/7 " or ", sheets 2,3/7 " (a first and last: "3-9/40" when more
// are at work); the names follow.
std::string sheets_part(const progress_figures& figures)
{
    const std::vector<std::size_t>& at_work = figures.sheets_at_work;
    if (figures.sheet_count <= 1 || at_work.empty())
        return "";
    std::string part = at_work.size() == 1 ? ", sheet " : ", sheets ";
    if (at_work.size() <= 3) {
        for (std::size_t i = 0; i < at_work.size(); ++i) {
            if (i > 0)
                part.append(",");
            part.append(std::to_string(at_work[i] + 1));
        }
    } else {
        part += std::to_string(at_work.front() + 1) + "-" + std::to_string(at_work.back() + 1);
    }
    return part + "/" + std::to_string(figures.sheet_count) + " ";
}

} // namespace

progress_line progress_text(const progress_figures& figures, int& shown_percent)
{
    const double done = fraction_done(figures);
    shown_percent = std::max(shown_percent, static_cast<int>(done * 100));
    std::string text = std::to_string(shown_percent) + "%, ";
    if (figures.tracks_known > 0)
        text += std::to_string(figures.tracks_done) + "/" + std::to_string(figures.tracks_known) +
                (figures.sheets_read < figures.sheet_count ? "+" : "") + " tracks, ";
    text += clock_time(figures.seconds) + " elapsed, ";
    if (figures.work_done > 0 && figures.seconds > 0 && done > 0)
        text += clock_time(figures.seconds * (1 - done) / done) + " left, ";
    char speed[32];
    std::snprintf(speed, sizeof speed, "%.1fx",
                  figures.seconds > 0 ? static_cast<double>(figures.bytes_done) / cd_bytes_per_second / figures.seconds
                                      : 0.0);
    text += speed;
    const std::string sheets = sheets_part(figures);
    if (sheets.empty() || text.size() + sheets.size() + 4 > progress_columns)
        return progress_line{text, text.size()};
    std::string names;
    for (std::size_t i = 0; i < figures.names.size(); ++i) {
        if (i > 0)
            names.append(", ");
        names.append(figures.names[i]);
    }
    const progress_line shown_names = fitted(names, progress_columns - text.size() - sheets.size());
    return progress_line{text + sheets + shown_names.text, text.size() + sheets.size() + shown_names.columns};
}
