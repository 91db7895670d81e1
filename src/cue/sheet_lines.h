// The words of a CUE sheet's lines: reading a line, telling blanks and line
// ends, matching command words and reading mm:ss:ff times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

bool is_blank(char c);
// A control byte ends a line's text.
bool ends_line(char c);
const char* skip_blanks(const char* p);
bool starts_with(const char* text, const char* prefix);

// The length of the word at text (up to a blank or control byte), at most limit.
std::size_t word_length(const char* text, std::size_t limit);

// The word at text is exactly word; is word in any letter case (word in capitals).
bool is_word(const char* text, const char* word);
bool is_word_in_any_case(const char* text, const char* word);

// What a line holds from p on, for a message, in single quotes: at most 40
// bytes, a control byte as '?'.
std::string found_text(const char* p);

// A sheet's bytes as its lines are read. A byte-order mark tells a Unicode
// sheet: UTF-8, whose mark is skipped, or UTF-16 (Notepad's "Unicode"),
// whose text is read as UTF-8. Without one, the bytes are read as they stand.
struct sheet_stream {
    enum class form { bytes, utf16_little_endian, utf16_big_endian };
    std::FILE* file = nullptr;          // the sheet's file; or, when null,
    const std::string* text = nullptr;  // the sheet held in memory (one read from an archive)
    std::size_t text_at = 0;
    form read_as = form::bytes;
    bool unicode = false;          // a byte-order mark said the text is Unicode
    unsigned char pending[8] = {}; // bytes read ahead, not yet taken
    int pending_count = 0;
    int pending_at = 0;
};
sheet_stream open_sheet_stream(std::FILE* file);
sheet_stream open_sheet_stream(const std::string& text);

// Like fgets, but a lone CR also ends a line, so sheets saved with old Mac
// line ends are read line by line; CR LF still counts as one line end.
bool read_line(sheet_stream& stream, char* line, int capacity);

// Appends the UTF-8 bytes of one character (a surrogate or a value past
// U+10FFFF as U+FFFD).
void append_utf8(std::string& text, char32_t c);

// Reads "%u:%u:%u" as the C library would, but with defined results for any
// digits: a value too large for 32 bits saturates. Returns how many were read.
int scan_msf(const char* text, std::uint32_t (&parts)[3]);
