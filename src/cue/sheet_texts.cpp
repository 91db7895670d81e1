#include "cue/sheet_texts.h"

#include "cue/sheet_lines.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace {

// A CD-TEXT line runs to its line end; a control byte in it (a tab is text)
// is dropped, and the text goes on after it.
std::string text_to_line_end(const char* p)
{
    std::string text;
    for (; *p != '\0' && *p != '\r' && *p != '\n'; ++p)
        if (!ends_line(*p) || *p == '\t')
            text += *p;
    return text;
}

// A quoted value runs to its closing quote (or the line's end, when the
// quote is missing); an unquoted one to the line's end, less trailing blanks.
std::string text_value(const std::string& text)
{
    std::size_t start = 0;
    std::size_t end = text.size();
    if (!text.empty() && text[0] == '"') {
        start = 1;
        end = std::min(end, text.find('"', 1));
    }
    while (end > start && is_blank(text[end - 1]))
        --end;
    return text.substr(start, end - start);
}

// The line as the emulator sheet gives it: the source's bytes, but a
// quote the source left open is closed, so readers see where the value ends.
std::string sheet_line(const char* command, const char* argument, std::string text)
{
    if (std::count(text.begin(), text.end(), '"') % 2 != 0) {
        while (!text.empty() && is_blank(text.back()))
            text.pop_back();
        text += '"';
    }
    return std::string(command, argument) + text;
}

void keep_text(text_keeper& keeper, std::int32_t track, text_field field, const char* command,
               const char* argument, int line_number)
{
    const std::string text = text_to_line_end(argument);
    std::string value = text_value(text);
    if (value.empty())
        return;
    std::size_t& slot = keeper.slots[track][static_cast<int>(field)];
    std::vector<sheet_text>& texts = *keeper.texts;
    sheet_text kept{field, track, std::move(value), sheet_line(command, argument, text), line_number};
    if (slot == 0) {
        texts.push_back(std::move(kept));
        slot = texts.size();
    } else {
        texts[slot - 1] = std::move(kept);
    }
}

} // namespace

void keep_text_line(text_keeper& keeper, std::int32_t track, const char* word, const char* command,
                    const char* argument, int line_number)
{
    static constexpr std::pair<const char*, text_field> fields[] = {
        {"CATALOG", text_field::catalog},       {"TITLE", text_field::title}, {"PERFORMER", text_field::performer},
        {"SONGWRITER", text_field::songwriter}, {"ISRC", text_field::isrc},
    };
    for (const auto& [name, field] : fields) {
        if (std::strcmp(word, name) == 0) {
            keep_text(keeper, track, field, command, argument, line_number);
            return;
        }
    }
    // REM GENRE and REM DATE, as disc rippers write them; other REM lines
    // are comments.
    if (std::strcmp(word, "REM") != 0)
        return;
    for (const auto& [name, field] : {std::pair{"GENRE", text_field::genre}, std::pair{"DATE", text_field::date}})
        if (is_word_in_any_case(argument, name))
            keep_text(keeper, track, field, command, skip_blanks(argument + std::strlen(name)), line_number);
}
