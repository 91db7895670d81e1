#include "app/lossless_step.h"

#include "cue/manifest.h"
#include "output/output_names.h"

#include <string>

namespace {

// The stream's bytes that the BIN's [first, end) are, when the feed kept
// them: bytes of the BIN that no track holds.
bool kept_bin_bytes(const source_feed& feed, std::int64_t first, std::int64_t end, std::string& bytes)
{
    bytes.clear();
    for (const feed_file& file : feed.files) {
        const std::int64_t from = std::max(first, file.bin_first);
        const std::int64_t to = std::min(end, file.bin_first + file.bin_bytes);
        const std::int64_t at = file.first + file.bin_offset - file.bin_first;
        std::string run;
        if (file.form == file_form::as_it_stands && from < to && !kept_bytes(feed, at + from, at + to, run))
            return false;
        bytes += run;
    }
    return static_cast<std::int64_t>(bytes.size()) == end - first;
}

std::string not_shown(const track_file_name& name)
{
    return std::string(name.text) + " could not be shown to give back its bytes";
}

// The piece of a track (or of track 0) that its file gives back.
bool track_piece(std::int32_t number, const track_span& track, const track_outcome& outcome,
                 const track_format& format, manifest_piece& piece, std::string& why)
{
    const track_file_name name = name_track_file(number, track.is_audio != 0, format);
    piece.digest = outcome.piece;
    if (outcome.all_zero)
        return true;   // a zeros piece
    if (!outcome.written || !outcome.proven) {
        why = not_shown(name);
        return false;
    }
    piece.file = name.text;
    if (track.is_audio != 0)
        piece.what = manifest_piece::kind::flac;
    else if (is_raw_track(number, format))
        piece.what = manifest_piece::kind::raw;
    else {
        piece.what = manifest_piece::kind::iso;
        piece.mode2 = track.is_mode2 != 0;
        piece.lba = track.start_sector;
        piece.zero_sectors = outcome.zero_sectors;
    }
    return true;
}

// The pieces end to end over the BIN: the sectors before track 1 (track 0,
// kept or all zeros), each track, and the bytes after the last one.
bool bin_pieces(const disc_source& source, const disc_layout& layout, const std::vector<track_outcome>& outcomes,
                const source_feed& feed, const track_format& format, std::vector<manifest_piece>& pieces,
                std::string& why)
{
    std::int64_t at = 0;
    for (std::int32_t number = layout.tracks[1].start_sector > 0 ? 0 : 1; number <= layout.track_count; ++number) {
        // Track 0 runs up to track 1, whether it kept a file or found silence.
        const track_span track = number == 0 ? track_span{0, layout.tracks[1].start_sector, 0, layout.tracks[1].is_audio,
                                                          layout.tracks[1].is_mode2}
                                             : layout.tracks[number];
        manifest_piece piece;
        piece.first = at;
        piece.bytes = std::int64_t{std::max(track.length_sectors, 0)} * raw_sector_size;
        if (std::int64_t{track.start_sector} * raw_sector_size != at || piece.bytes == 0) {
            why = "the tracks do not follow one another through the BIN";
            return false;
        }
        if (!track_piece(number, track, outcomes[static_cast<std::size_t>(number)], format, piece, why))
            return false;
        at += piece.bytes;
        pieces.push_back(std::move(piece));
    }
    if (at < source.bin.size_bytes) {
        manifest_piece tail;
        tail.what = manifest_piece::kind::bytes;
        tail.first = at;
        tail.bytes = source.bin.size_bytes - at;
        if (!kept_bin_bytes(feed, at, source.bin.size_bytes, tail.data)) {
            why = "the BIN's last " + std::to_string(tail.bytes) + " bytes are in no track";
            return false;
        }
        tail.digest = digest_of(tail.data);
        pieces.push_back(std::move(tail));
    }
    if (at > source.bin.size_bytes) {
        why = "the last track runs past the end of the BIN";
        return false;
    }
    return true;
}

// Each source file: its run of the BIN, and the bytes of it before and
// after that run (a WAVE file's header and trailing chunks, the incomplete
// last sector the BIN leaves out); or its run and the form that makes the
// file of it (big-endian audio, the user data of MODE1 sectors).
bool source_files(const source_feed& feed, const std::vector<hashed_file>& files,
                  std::vector<manifest_file>& entries, std::string& why)
{
    for (std::size_t i = 0; i < feed.files.size(); ++i) {
        const feed_file& file = feed.files[i];
        const hashed_file& hashed = files[i + 1];
        if (file.form == file_form::decoded) {
            why = hashed.name + " is a FLAC file: its tracks keep its samples, not its own bytes; keep the file "
                                "beside the split";
            return false;
        }
        if (!hashed.whole) {
            why = hashed.name + " is not kept whole";
            return false;
        }
        manifest_file entry{hashed.name, hashed.digest, file.bin_first, file.bin_bytes, {}, {}, file.form};
        const bool ends_kept =
            file.form != file_form::as_it_stands ||
            (kept_bytes(feed, file.first, file.first + file.bin_offset, entry.head) &&
             kept_bytes(feed, file.first + file.bin_offset + file.bin_bytes, file.first + file.size, entry.tail));
        if (!ends_kept) {
            why = "the ends of " + hashed.name + " are in no track";
            return false;
        }
        entries.push_back(std::move(entry));
    }
    return true;
}

} // namespace

bool write_lossless_manifest(voice c, const output_folder& folder, const disc_source& source,
                             const disc_layout& layout, const std::vector<track_outcome>& outcomes,
                             const source_feed& feed, const std::vector<hashed_file>& files,
                             const track_format& format)
{
    const std::string name = manifest_file_name(*folder.paths);
    disc_manifest manifest;
    manifest.sheet_name = files.front().name;
    manifest.sheet_bytes = source.sheet_bytes;
    manifest.sheet_digest = files.front().digest;
    manifest.bin_size = source.bin.size_bytes;
    std::string why;
    if (!bin_pieces(source, layout, outcomes, feed, format, manifest.pieces, why) ||
        !source_files(feed, files, manifest.files, why)) {
        report(c, "%s not written: %s", name.c_str(), why.c_str());
        remove_output_file(folder, name.c_str());
        return false;
    }
    if (write_output_bytes(c, folder, name.c_str(), manifest_text(manifest)))
        return true;
    remove_output_file(folder, name.c_str());
    return false;
}
