// Output files that never leave a broken file under a final name: each is
// written under a temporary name of its own in the output folder and renamed
// over its final name only once it is complete, flushed and closed. A link,
// FIFO or older file at the final name is replaced, never written through.
#pragma once

#include "base/console.h"
#include "base/content_hash.h"
#include "base/file_stream.h"
#include "base/paths.h"
#include "base/platform.h"
#include "base/temporary_files.h"

#include <string>
#include <vector>

struct split_journal;

// The folder a run writes into, and what must never be replaced there.
struct output_folder {
    const run_paths* paths = nullptr;
    temporary_files* temporaries = nullptr;
    std::vector<file_identity> inputs;   // the sheet and its BIN files
    split_journal* journal = nullptr;    // the folder's record as the run keeps it (split_record.h)
    output_naming naming{};              // as the command line placed it: what advice fits
};

inline constexpr int output_is_input = -1;   // open_output_file's failure for an input's name

// How a file's hash is taken: read back from the finished temporary (small
// files, and audio, which the encoders may go back into), fed by its writer
// as it writes (a data track's blocks), or not at all.
enum class output_hash { read_back, fed, none };

struct output_file {
    file_stream stream;
    std::string final_path;
    std::string temporary_path;
    temporary_files* temporaries = nullptr;   // set while the temporary exists
    output_hash hashing = output_hash::read_back;
    bool durable = true;                      // flushed to the disk before its rename
    content_hash fed;                         // the bytes the writer fed in (output_hash::fed)
    std::uint64_t hash = 0;                   // of the file put in place (unless output_hash::none)

    output_file() = default;
    ~output_file();
    output_file(const output_file&) = delete;
    output_file& operator=(const output_file&) = delete;
};

// Creates the temporary for the file `name` of the folder. Returns 0, or why
// not: an errno value (EISDIR when a directory holds the final name) or
// output_is_input when the final name holds one of the run's input files.
int open_output_file(output_file& out, const output_folder& folder, const char* name);

// The words for open_output_file's failure.
const char* describe_open_failure(int failure);

// Puts the temporary on the disk (when durable), takes its hash, closes it
// and renames it over the final name: a power loss at any moment leaves the
// old file or the complete new one, once the folder's entries are on the
// disk too (flush_folder_to_disk, when the run's files there are in place).
// False, after reporting it, when the file could not be written or put in
// place; the temporary is then removed and the final name left as it was.
bool commit_output_file(voice to, output_file& out);

// Closes the temporary and gives it its final name only where nothing
// holds that name yet: taken leaves the temporary for the caller, failed
// (reported) removes it.
enum class placing { placed, taken, failed };
placing place_new_output_file(voice to, output_file& out);

// Writes the whole file `name` of the folder with these bytes, as every
// output file is written; reports why not and returns false when it could
// not be put in place.
bool write_output_bytes(voice to, const output_folder& folder, const char* name, const std::string& bytes);

// Closes and removes the temporary, if there is one.
void discard_output_file(output_file& out);

// Removes the file `name` of the folder, if a regular file that is not one of
// the run's inputs holds the name.
void remove_output_file(const output_folder& folder, const char* name);

// Removes the temporaries that runs ended by a kill left in the folder:
// names of this program's own pattern whose process is gone. With `of`,
// only the temporaries of that one file (in a folder not the run's own,
// where a playlist is written).
void remove_stale_temporaries(const run_paths& paths, const char* of = nullptr);

// The same for the files that killed runs of this output name unpacked
// beside the output folder.
void remove_stale_unpacked_files(const run_paths& paths);
