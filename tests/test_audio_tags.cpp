// Tag values from sheet text: its encoding, control characters, length.
#include "extract/audio_tags.h"

#include <gtest/gtest.h>

#include <string>

TEST(AudioTags, TagValuesAreCleanUtf8OfAtMostOneKilobyte)
{
    const std::string a1023(1023, 'a');
    const struct {
        const char* what;
        std::string sheet;
        std::string tag;
    } rows[] = {
        {"valid UTF-8 kept", "Caf\xC3\xA9 \xE2\x80\x93 \xF0\x9F\x8E\xB5", "Caf\xC3\xA9 \xE2\x80\x93 \xF0\x9F\x8E\xB5"},
        {"Latin-1 range of Windows-1252", "Caf\xE9 \xFF", "Caf\xC3\xA9 \xC3\xBF"},
        {"0x80-0x9F of Windows-1252", "\x80\x8A\x96\x9F", "\xE2\x82\xAC\xC5\xA0\xE2\x80\x93\xC5\xB8"},
        {"one invalid byte makes it all Windows-1252", "\xC3\xA9 \xE9", "\xC3\x83\xC2\xA9 \xC3\xA9"},
        {"overlong and surrogate forms are not UTF-8", "\xC0\xAF\xED\xA0\x80",
         "\xC3\x80\xC2\xAF\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
        {"undefined Windows-1252 bytes dropped", "a\x81" "b\x8D\x8F\x90\x9D", "ab"},
        {"controls dropped: C0, DEL, C1 in UTF-8", "a\tb\x7F" "c\xC2\x85" "d", "abcd"},
        {"cut at 1024 bytes", std::string(1100, 'x'), std::string(1024, 'x')},
        {"cut between characters", a1023 + "\xC3\xA9", a1023},
        {"cut after the cleaning", "\x01\x02" + a1023 + "b" + "c", a1023 + "b"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(tag_value(row.sheet), row.tag) << row.what;
}
