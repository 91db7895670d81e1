#include "cue/sheet_lines.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

// One "%u" conversion: leading white space, an optional sign, digits.
const char* scan_unsigned(const char* p, std::uint32_t& value)
{
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-')
        ++p;
    if (*p < '0' || *p > '9')
        return nullptr;
    std::uint64_t number = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        number = std::min<std::uint64_t>(number * 10 + static_cast<std::uint64_t>(*p - '0'), UINT32_MAX);
    value = static_cast<std::uint32_t>(negative ? 0 - number : number);
    return p;
}

} // namespace

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool ends_line(char c) { return static_cast<unsigned char>(c) < 32; }

const char* skip_blanks(const char* p)
{
    while (is_blank(*p))
        ++p;
    return p;
}

bool starts_with(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

std::size_t word_length(const char* text, std::size_t limit)
{
    std::size_t length = 0;
    while (length < limit && static_cast<unsigned char>(text[length]) > 32)
        ++length;
    return length;
}

bool is_word(const char* text, const char* word)
{
    const std::size_t length = std::strlen(word);
    return std::strncmp(text, word, length) == 0 && static_cast<unsigned char>(text[length]) <= 32;
}

bool read_line(std::FILE* file, char* line, int capacity)
{
    int length = 0;
    int c = EOF;
    while (length < capacity - 1 && (c = std::getc(file)) != EOF) {
        line[length++] = static_cast<char>(c);
        if (c == '\n')
            break;
        if (c == '\r') {
            const int next = std::getc(file);
            if (next != '\n' && next != EOF)
                std::ungetc(next, file);
            break;
        }
    }
    line[length] = '\0';
    return length > 0;
}

bool is_word_in_any_case(const char* text, const char* word)
{
    const std::size_t length = std::strlen(word);
    for (std::size_t i = 0; i < length; ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != word[i])
            return false;
    return static_cast<unsigned char>(text[length]) <= 32;
}

int scan_msf(const char* text, std::uint32_t (&parts)[3])
{
    const char* p = text;
    for (int count = 0; count < 3; ++count) {
        if (count > 0 && *p++ != ':')
            return count;
        p = scan_unsigned(p, parts[count]);
        if (p == nullptr)
            return count;
    }
    return 3;
}
