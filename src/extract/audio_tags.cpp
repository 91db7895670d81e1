#include "extract/audio_tags.h"

#include "base/platform.h"
#include "cue/sheet_lines.h"

#include <algorithm>

namespace {

// Windows-1252 differs from Latin-1 only in 0x80-0x9F. The five bytes it
// leaves undefined are taken as the C1 controls, which are then cleaned.
constexpr char32_t windows_1252_high[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// The length of the UTF-8 sequence at the start of text, or 0 when it is not
// a well-formed one (overlong forms, surrogates and values past U+10FFFF are not).
std::size_t utf8_sequence_length(std::string_view text)
{
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

bool is_utf8(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8_sequence_length(text.substr(at));
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

// C0 controls, DEL and the C1 controls (U+0080-U+009F, C2 80-C2 9F in UTF-8).
bool is_control(std::string_view character)
{
    const auto lead = static_cast<unsigned char>(character[0]);
    if (character.size() == 1)
        return lead < 0x20 || lead == 0x7F;
    return character.size() == 2 && lead == 0xC2 && static_cast<unsigned char>(character[1]) < 0xA0;
}

void add_comment(track_comments& comments, const char* key, const std::string* text, const std::string& encoding)
{
    if (text == nullptr)
        return;
    const std::string value = tag_value(*text, encoding);
    if (!value.empty())
        comments.push_back(std::string(key) + "=" + value);
}

// The track's own field, else the disc's.
const std::string* track_or_disc(const cue_sheet& sheet, std::int32_t number, text_field field)
{
    const std::string* text = find_text(sheet, number, field);
    return text != nullptr ? text : find_text(sheet, 0, field);
}

track_comments comments_for_track(const cue_sheet& sheet, std::int32_t number, const std::string& encoding)
{
    track_comments comments{"TRACKNUMBER=" + std::to_string(number), "TRACKTOTAL=" + std::to_string(sheet.track_count)};
    const auto add = [&](const char* key, const std::string* text) { add_comment(comments, key, text, encoding); };
    add("ALBUM", find_text(sheet, 0, text_field::title));
    add("ARTIST", track_or_disc(sheet, number, text_field::performer));
    add("ALBUMARTIST", find_text(sheet, 0, text_field::performer));
    // The hidden track, number 0, has no TITLE or ISRC of its own: the
    // sheet's texts of place 0 are the disc's.
    if (number != 0)
        add("TITLE", find_text(sheet, number, text_field::title));
    add("COMPOSER", track_or_disc(sheet, number, text_field::songwriter));
    add("GENRE", find_text(sheet, 0, text_field::genre));
    add("DATE", find_text(sheet, 0, text_field::date));
    if (number != 0)
        add("ISRC", find_text(sheet, number, text_field::isrc));
    return comments;
}

} // namespace

std::string utf8_from_sheet_text(std::string_view text, const std::string& encoding)
{
    if (std::string utf8; !encoding.empty() && utf8_from_encoding(encoding.c_str(), text, utf8))
        return utf8;
    if (is_utf8(text))
        return std::string(text);
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        append_utf8(out, byte >= 0x80 && byte <= 0x9F ? windows_1252_high[byte - 0x80] : char32_t{byte});
    }
    return out;
}

std::string tag_value(std::string_view text, const std::string& encoding)
{
    const std::string utf8 = utf8_from_sheet_text(text, encoding);
    const std::string_view all(utf8);
    std::string value;
    for (std::size_t at = 0; at < all.size();) {
        const std::string_view character = all.substr(at, std::max<std::size_t>(1, utf8_sequence_length(all.substr(at))));
        at += character.size();
        if (is_control(character))
            continue;
        if (value.size() + character.size() > tag_value_limit)
            break;
        value += character;
    }
    return value;
}

std::vector<track_comments> comments_for_disc(const cue_sheet& sheet, const std::string& encoding)
{
    const std::string read_in = sheet.unicode ? std::string() : encoding;
    std::vector<track_comments> comments(static_cast<std::size_t>(std::max(sheet.track_count, 0)) + 1);
    for (std::int32_t number = 0; number <= sheet.track_count; ++number)
        comments[static_cast<std::size_t>(number)] = comments_for_track(sheet, number, read_in);
    return comments;
}

int first_text_not_utf8(const cue_sheet& sheet)
{
    for (const sheet_text& text : sheet.texts)
        if (!is_utf8(text.value))
            return text.line_number;
    return 0;
}
