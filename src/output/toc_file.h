// The TOC file: "Leadin", each track's optional "Pregap:" line and its file
// name with its length as minutes:seconds:frames, then "Leadout". Lines end
// in CR LF on every platform. Written into the record with its hash.
#pragma once

#include "base/console.h"
#include "cue/layout.h"
#include "output/folder_claim.h"
#include "output/track_format.h"

#include <cstdio>
#include <string>

// The whole text; write_toc writes it, and the caller checks the close.
std::string toc_text(const disc_layout& layout, const track_format& format);
void write_toc(std::FILE* toc_file, const disc_layout& layout, const track_format& format);

// The run's TOC step: says "Creating file:", writes NAME.toc in the claimed
// folder and reports tracks whose INDEX positions run backwards. False when
// the TOC cannot even be created, which ends the run; a TOC that cannot be
// put in place is reported, and the tracks are still written, as they do
// not depend on it.
bool write_toc_file(voice c, const output_folder& folder, const folder_claim& claim, const disc_layout& layout,
                    const track_format& format);

// Writes NAME.toc again, silently, once the run knows the names the tracks
// were given (--lossless chooses .iso or .bin as each data track is copied).
void rewrite_toc_file(voice c, const output_folder& folder, const disc_layout& layout, const track_format& format);
