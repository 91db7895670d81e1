// The hashes a run takes of its source (--hash, --dat, --lossless): the
// sheet's from its bytes, each BIN file's from the feed the writers read
// the tracks through, so that no file is read twice.
#pragma once

#include "base/console.h"
#include "base/digest.h"
#include "cue/disc_source.h"
#include "cue/source_feed.h"

#include <memory>
#include <string>
#include <vector>

struct hashed_file {
    std::string name;
    file_digest digest;
    bool whole = true;   // every byte could be read
};

// The feed's ring for `writers` writers: room for those after the first to
// run ahead of the bytes being hashed (some 4 minutes of audio each).
std::size_t feed_window(int writers);

// Starts hashing the source's files as the tracks are written by up to
// `writers` writers; keep_tails keeps the bytes no track holds (for a
// manifest).
std::unique_ptr<source_feed> start_hashing(const disc_source& source, const disc_layout& layout, int writers,
                                           bool keep_tails);

// The sheet, then each file it names, with their hashes, once the feed has
// taken every byte; reports each file that could not be read whole.
std::vector<hashed_file> hashed_files(voice c, const disc_source& source, const source_feed& feed);

// "NAME: N bytes, CRC32 x, MD5 y, SHA-1 z", one line a file.
void say_hashes(voice c, const std::vector<hashed_file>& files);
