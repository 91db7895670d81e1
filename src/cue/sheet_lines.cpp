#include "cue/sheet_lines.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

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

constexpr char32_t replacement_character = 0xFFFD;

// The next byte of the sheet's file or text; EOF at its end.
int take_byte(sheet_stream& stream)
{
    if (stream.text == nullptr)
        return std::getc(stream.file);
    if (stream.text_at == stream.text->size())
        return EOF;
    return static_cast<unsigned char>((*stream.text)[stream.text_at++]);
}

// Puts back c, the byte just taken from the file or text.
void give_back(sheet_stream& stream, int c)
{
    if (stream.text == nullptr)
        std::ungetc(c, stream.file);
    else
        --stream.text_at;
}

int next_raw_byte(sheet_stream& stream)
{
    if (stream.pending_at < stream.pending_count)
        return stream.pending[stream.pending_at++];
    stream.pending_at = stream.pending_count = 0;
    return take_byte(stream);
}

// One UTF-16 code unit; -1 at the end (an odd last byte is dropped).
long next_unit(sheet_stream& stream)
{
    const int first = take_byte(stream);
    const int second = first == EOF ? EOF : take_byte(stream);
    if (second == EOF)
        return -1;
    return stream.read_as == sheet_stream::form::utf16_little_endian ? first | second << 8 : first << 8 | second;
}

// Decodes the next UTF-16 character into pending as UTF-8; false at the end.
bool decode_utf16(sheet_stream& stream)
{
    long unit = next_unit(stream);
    if (unit < 0)
        return false;
    char32_t c = static_cast<char32_t>(unit);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        const long low = next_unit(stream);
        c = low >= 0xDC00 && low <= 0xDFFF ? 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                                                 (static_cast<char32_t>(low) - 0xDC00)
                                           : replacement_character;   // and the unit after it is lost
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
        c = replacement_character;
    }
    std::string bytes;
    append_utf8(bytes, c);
    std::memcpy(stream.pending, bytes.data(), bytes.size());
    stream.pending_count = static_cast<int>(bytes.size());
    stream.pending_at = 0;
    return true;
}

int next_byte(sheet_stream& stream)
{
    if (stream.read_as == sheet_stream::form::bytes || stream.pending_at < stream.pending_count)
        return next_raw_byte(stream);
    return decode_utf16(stream) ? next_raw_byte(stream) : EOF;
}

// Puts back the byte just taken: into pending when it came from there.
void put_back(sheet_stream& stream, int c)
{
    if (stream.pending_at > 0)
        --stream.pending_at;
    else
        give_back(stream, c);
}

// Reads the first bytes: a byte-order mark says how the rest is read.
sheet_stream read_byte_order_mark(sheet_stream stream)
{
    while (stream.pending_count < 3) {
        const int c = take_byte(stream);
        if (c == EOF)
            break;
        stream.pending[stream.pending_count++] = static_cast<unsigned char>(c);
    }
    const auto starts = [&stream](const char* mark, int length) {
        return stream.pending_count >= length &&
               std::memcmp(stream.pending, mark, static_cast<std::size_t>(length)) == 0;
    };
    if (starts("\xEF\xBB\xBF", 3)) {
        stream.pending_at = 3;
    } else if (starts("\xFF\xFE", 2) || starts("\xFE\xFF", 2)) {
        stream.read_as = stream.pending[0] == 0xFF ? sheet_stream::form::utf16_little_endian
                                                   : sheet_stream::form::utf16_big_endian;
        // The third byte read is the first of the text: read again as a unit's.
        if (stream.pending_count == 3)
            give_back(stream, stream.pending[2]);
        stream.pending_at = stream.pending_count = 0;
    }
    stream.unicode = stream.pending_at == 3 || stream.read_as != sheet_stream::form::bytes;
    return stream;
}

} // namespace

void append_utf8(std::string& text, char32_t c)
{
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        c = replacement_character;
    if (c < 0x80) {
        text += static_cast<char>(c);
    } else if (c < 0x800) {
        text += static_cast<char>(0xC0 | c >> 6);
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        text += static_cast<char>(0xE0 | c >> 12);
        text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | c >> 18);
        text += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    }
}

sheet_stream open_sheet_stream(std::FILE* file)
{
    sheet_stream stream;
    stream.file = file;
    return read_byte_order_mark(stream);
}

sheet_stream open_sheet_stream(const std::string& text)
{
    sheet_stream stream;
    stream.text = &text;
    return read_byte_order_mark(stream);
}

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

bool read_line(sheet_stream& stream, char* line, int capacity)
{
    int length = 0;
    int c = EOF;
    while (length < capacity - 1 && (c = next_byte(stream)) != EOF) {
        line[length++] = static_cast<char>(c);
        if (c == '\n')
            break;
        if (c == '\r') {
            const int next = next_byte(stream);
            if (next != '\n' && next != EOF)
                put_back(stream, next);
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

// What a line holds from p on, for a message, in single quotes: at most 40
// bytes, a control byte as '?'.
std::string found_text(const char* p)
{
    std::string text(1, '\'');
    for (; !ends_line(*p) || *p == '\t'; ++p)
        text += *p == '\t' ? ' ' : static_cast<unsigned char>(*p) < 32 ? '?' : *p;
    while (text.size() > 1 && is_blank(text.back()))
        text.pop_back();
    if (text.size() > 41)
        text.replace(38, std::string::npos, "...");
    text += '\'';
    return text;
}
