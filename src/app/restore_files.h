// The files a restore writes, and the stream that writes them: the
// decoders of a split folder's track files put the disc's bytes into a feed
// side by side, and its last consumer writes them, in order, into each
// file's temporary, while the others hash them.
#pragma once

#include "base/console.h"
#include "base/digest.h"
#include "cue/source_feed.h"
#include "cue/split_source.h"
#include "output/output_file.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

struct restore_target {
    std::string name;            // relative to the folder restored into: "Game.bin", "CD1/Game.bin"
    const output_folder* folder = nullptr;   // the folder it goes in: that one, or one below it
    std::string file_name;       // its name there
    bool is_sheet = false;       // the sheet, written last from `bytes`
    std::string bytes;           // the sheet's
    std::int64_t first = 0;      // a BIN file's first byte in the stream
    std::int64_t size = 0;
    std::int64_t bin_first = 0;  // its run of the disc's BIN
    std::int64_t bin_bytes = 0;
    std::string head;            // and its bytes before that run
    std::string tail;            // and after it
    file_form form = file_form::as_it_stands;   // how the run makes the file
    bool known = false;          // what it must be is known (a lossless split's manifest)
    file_digest expected;
    bool left = false;           // an identical file holds its name already
    file_digest digest;          // once written or found
};

// Writes the stream, file after file, into temporaries in their folders.
struct stream_writer {
    std::vector<restore_target*> files;   // in stream order
    std::deque<output_file> outs;         // by file
    std::vector<int> failures;            // by file: why it could not be opened or written
    std::size_t current = 0;
    bool opened = false;
};

// What the folder gives back: a lossless split's files (a file named twice
// once) and its sheet, or a playable image's BIN and sheet. False, with
// why, for two different files of one name.
bool restore_targets(const split_folder& split, std::vector<restore_target>& targets, std::string& why);

// Gives each target the folder it goes in, making the folders below `top`
// that a name such as "CD1/Game.bin" asks for; `below` keeps their paths.
void find_target_folders(std::vector<restore_target>& targets, const output_folder& top,
                         std::deque<run_paths>& below_paths, std::deque<output_folder>& below);

// A target whose name is taken already: left when it holds the very bytes
// (said), else false, reported.
bool check_existing(voice c, restore_target& target, const std::string& source);

// Starts the stream of the targets not left: the hashes (`parts` of them:
// SHA-1 and size always), and the writer.
std::unique_ptr<source_feed> start_restore_feed(split_folder& split, std::vector<restore_target>& targets,
                                                const std::shared_ptr<stream_writer>& writer, int writers,
                                                unsigned parts);

// Closes what the writer still has open, and opens the empty files it never reached.
void close_writer(stream_writer& writer);

// Gives each written target its name, never over a file: one found there
// that holds the same bytes is left (and said), another stops the restore
// (reported). False when it stopped.
bool place_targets(voice c, stream_writer& writer, const std::string& source);
bool place_sheet(voice c, restore_target& sheet, const std::string& source);
