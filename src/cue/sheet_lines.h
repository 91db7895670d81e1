// The words of a CUE sheet's lines: reading a line, telling blanks and line
// ends, matching command words and reading mm:ss:ff times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

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

// Like fgets, but a lone CR also ends a line, so sheets saved with old Mac
// line ends are read line by line; CR LF still counts as one line end.
bool read_line(std::FILE* file, char* line, int capacity);

// Reads "%u:%u:%u" as the C library would, but with defined results for any
// digits: a value too large for 32 bits saturates. Returns how many were read.
int scan_msf(const char* text, std::uint32_t (&parts)[3]);
