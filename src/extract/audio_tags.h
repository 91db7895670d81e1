// The Vorbis comments of each audio track, .ogg and .flac alike, after the
// encoder's own ENCODER: the track's number and the disc's track count, and
// what the sheet's CD-TEXT says of the disc and the track.
#pragma once

#include "cue/cue_sheet.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::size_t tag_value_limit = 1024;   // bytes of UTF-8

// "KEY=value" each, in the order they are written.
using track_comments = std::vector<std::string>;

// The comments of tracks 0..track_count, by track number: [0] for the
// hidden track before track 1, TRACKNUMBER=0 and the disc's texts. The
// texts are read in encoding (--text-encoding) unless it is empty or the
// sheet's byte-order mark said it is Unicode.
std::vector<track_comments> comments_for_disc(const cue_sheet& sheet, const std::string& encoding = {});

// Sheet text as UTF-8: read in encoding when one is given (as this system
// knows it); else kept when it is valid UTF-8, and read as Windows-1252,
// the code page most rippers on Windows write sheets in, when it is not.
std::string utf8_from_sheet_text(std::string_view text, const std::string& encoding = {});

// A tag value from sheet text: UTF-8, without control characters, at most
// tag_value_limit bytes, cut between characters.
std::string tag_value(std::string_view text, const std::string& encoding = {});

// The line of the sheet's first CD-TEXT that is not valid UTF-8; 0 when
// every one is.
int first_text_not_utf8(const cue_sheet& sheet);
