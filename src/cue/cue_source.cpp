#include "cue/cue_source.h"

#include "base/file_stream.h"
#include "base/paths.h"
#include "base/platform.h"
#include "cue/cue_reader.h"

namespace {

// A BIN is looked for beside its sheet, in the folder of the sheet's path.
std::string bin_path(const std::string& sheet_dir, const std::string& name) { return sheet_dir + name; }

// Opens the BIN a FILE line names only to size it: the track writers open
// it again, so no more than a few files are ever open. A path longer than
// the run's path buffers is not looked for.
std::int64_t size_bin_file(const std::string& path)
{
    if (path.size() >= path_capacity)
        return -1;
    file_stream file = open_regular_file(path.c_str());
    if (!file)
        return -1;
    const std::int64_t size = file_size(file.get());
    return size < 0 ? 0 : size;
}

// The BIN files, one after another: a file's incomplete last sector is left
// out, so the next file starts on a whole sector.
virtual_bin join_bin_files(const std::vector<bin_file_entry>& bin_files, const std::string& sheet_dir)
{
    virtual_bin bin;
    for (std::size_t i = 0; i < bin_files.size(); ++i) {
        const bin_file_entry& entry = bin_files[i];
        const bool last = i + 1 == bin_files.size();
        const std::int64_t bytes = last ? entry.size_bytes : entry.size_bytes - entry.size_bytes % raw_sector_size;
        bin.parts.push_back(file_part(bin_path(sheet_dir, entry.name), bin.size_bytes, bytes));
        bin.size_bytes += bytes;
    }
    return bin;
}

} // namespace

bool is_cue_source(const char*) { return true; }

disc_source read_cue_source(const char* path)
{
    disc_source source;
    file_stream cue_file = open_regular_file(path);
    if (!cue_file)
        return source;
    const std::string sheet_dir(path, static_cast<std::size_t>(base_name(path) - path));
    cue_read read = read_cue_sheet(cue_file.get(), [&sheet_dir](const char* name) {
        return size_bin_file(bin_path(sheet_dir, name));
    });
    source.sheet = std::move(read.sheet);
    source.files.emplace_back(path);
    if (!read.ok) {
        source.result = disc_source::state::malformed;
        source.error = std::move(read.error);
        return source;
    }
    source.result = disc_source::state::read;
    source.layout = lay_out_tracks(source.sheet);
    source.bin = join_bin_files(source.sheet.bin_files, sheet_dir);
    for (const bin_part& part : source.bin.parts)
        source.files.push_back(part.path);
    return source;
}
