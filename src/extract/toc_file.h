// The TOC file: "Leadin", each track's optional "Pregap:" line and its file
// name with its length as minutes:seconds:frames, then "Leadout". Lines end
// in CR LF on every platform.
#pragma once

#include "cue/layout.h"
#include "extract/track_format.h"

#include <cstdio>

// Writes the whole text; the caller checks the close.
void write_toc(std::FILE* toc_file, const disc_layout& layout, const track_format& format = {});
