#include "cue/split_source.h"

#include "base/file_stream.h"
#include "base/paths.h"
#include "base/platform.h"
#include "cue/flac_file.h"
#include "cue/part_decoders.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::int64_t sheet_limit = std::int64_t{64} << 20;   // a manifest or sheet is never near this

std::string in_folder(const std::string& folder, const std::string& name) { return folder + path_separator + name; }

bool ends_with(const std::string& text, const char* end)
{
    const std::size_t length = std::strlen(end);
    return text.size() >= length && text.compare(text.size() - length, length, end) == 0;
}

// The folder's regular files whose names end so.
std::vector<std::string> files_ending(const std::string& folder, const char* end)
{
    std::vector<std::string> names;
    list_directory(folder.c_str(), [&](const char* name) {
        if (ends_with(name, end) && kind_of_path(in_folder(folder, name).c_str()) == path_kind::regular_file)
            names.emplace_back(name);
    });
    std::sort(names.begin(), names.end());
    return names;
}

bool read_small_file(const std::string& path, std::string& bytes)
{
    const file_stream file = open_regular_file(path.c_str());
    const std::int64_t size = file ? file_size(file.get()) : -1;
    if (size < 0 || size > sheet_limit)
        return false;
    bytes.resize(static_cast<std::size_t>(size));
    return std::fread(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

std::int64_t size_of(const std::string& path)
{
    const file_stream file = open_regular_file(path.c_str());
    return file ? file_size(file.get()) : -1;
}

bool unreadable(split_folder& split, std::string why)
{
    split.what = split_folder::kind::unreadable;
    split.why = std::move(why);
    return false;
}

// The piece's part of the BIN, its track file checked to hold its bytes.
bool piece_part(split_folder& split, const std::string& folder, const manifest_piece& piece)
{
    using kind = manifest_piece::kind;
    if (piece.what == kind::zeros || piece.what == kind::bytes) {
        split.bin.parts.push_back(decoded_part(piece.first, piece.bytes, piece.what == kind::zeros
                                                                            ? zeros_decoder()
                                                                            : bytes_decoder(piece.data)));
        return true;
    }
    const std::string path = in_folder(folder, piece.file);
    if (kind_of_path(path.c_str()) != path_kind::regular_file)
        return unreadable(split, piece.file + " is missing");
    const std::int64_t held = piece.what == kind::flac  ? flac_audio_bytes(path)
                              : piece.what == kind::iso ? size_of(path) / 2048 * 2352
                                                        : size_of(path);
    if (held != piece.bytes || piece.first % 2352 != 0 || piece.bytes % 2352 != 0)
        return unreadable(split, piece.file + " does not hold the " + std::to_string(piece.bytes) +
                                     " bytes the manifest gives it");
    split.bin.parts.push_back(piece.what == kind::raw ? file_part(path, piece.first, piece.bytes)
                              : piece.what == kind::iso
                                  ? decoded_part(piece.first, piece.bytes,
                                                 iso_decoder(path, piece.mode2, piece.lba, piece.zero_sectors))
                                  : decoded_part(piece.first, piece.bytes, flac_decoder(path)));
    split.inputs.push_back(path);
    if (split.pieces.track_count == max_tracks)
        return unreadable(split, "the manifest has more track files than a disc has tracks");
    track_span& span = split.pieces.tracks[++split.pieces.track_count];
    span = track_span{static_cast<std::int32_t>(piece.first / 2352), static_cast<std::int32_t>(piece.bytes / 2352), 0,
                      piece.what == kind::flac ? 1 : 0, piece.mode2 ? 1 : 0};
    return true;
}

bool read_lossless(split_folder& split, const std::string& folder, const std::string& manifest_name)
{
    std::string text;
    if (!read_small_file(in_folder(folder, manifest_name), text))
        return unreadable(split, manifest_name + " cannot be read");
    std::string why;
    if (!read_manifest(text, split.manifest, why))
        return unreadable(split, manifest_name + ": " + why);
    split.inputs.push_back(in_folder(folder, manifest_name));
    for (std::size_t i = 0; i < split.manifest.pieces.size(); ++i) {
        const std::int32_t tracks_before = split.pieces.track_count;
        if (!piece_part(split, folder, split.manifest.pieces[i]))
            return false;
        if (split.pieces.track_count != tracks_before)
            split.piece_of.resize(static_cast<std::size_t>(split.pieces.track_count) + 1, i);
    }
    split.bin.size_bytes = split.manifest.bin_size;
    split.what = split_folder::kind::lossless;
    return true;
}

// The emulator sheet: NAME.cue after the folder's name, else the folder's only sheet.
std::string emulator_sheet_in(const std::string& folder, const std::string& name)
{
    if (kind_of_path(in_folder(folder, name + ".cue").c_str()) == path_kind::regular_file)
        return name + ".cue";
    const std::vector<std::string> sheets = files_ending(folder, ".cue");
    return sheets.size() == 1 ? sheets.front() : std::string();
}

std::string msf(std::int64_t sectors)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(sectors / 4500),
                  static_cast<int>(sectors / 75 % 60), static_cast<int>(sectors % 75));
    return text;
}

// What the playable image holds of one track file: its part, and zeros to
// the end of the sector. Returns why not, or "".
std::string playable_part(split_folder& split, const std::string& folder, const std::string& file, bool& lossy,
                          bool& rebuilt)
{
    const std::string path = in_folder(folder, file);
    if (file.find_first_of("/\\:") != std::string::npos || kind_of_path(path.c_str()) != path_kind::regular_file)
        return file + " is missing";
    const std::int64_t at = split.bin.size_bytes;
    std::int64_t bytes = -1;
    decoder_maker decoder;
    if (ends_with(file, ".iso")) {
        bytes = size_of(path) / 2048 * 2352;
        decoder = iso_decoder(path, false, at / 2352);
        rebuilt = true;
    } else if (ends_with(file, ".ogg")) {
        bytes = vorbis_audio_bytes(path);
        decoder = vorbis_decoder(path);
        lossy = true;
    } else if (ends_with(file, ".flac")) {
        bytes = flac_audio_bytes(path);
        decoder = flac_decoder(path);
    } else if (ends_with(file, ".bin")) {
        bytes = size_of(path) / 2352 * 2352;
    }
    if (bytes <= 0)
        return file + " is not a track file this program reads back";
    split.bin.parts.push_back(decoder ? decoded_part(at, bytes, decoder) : file_part(path, at, bytes));
    split.inputs.push_back(path);
    if (split.pieces.track_count < max_tracks)
        split.pieces.tracks[++split.pieces.track_count] =
            track_span{static_cast<std::int32_t>(at / 2352), static_cast<std::int32_t>((bytes + 2351) / 2352), 0, 0, 0};
    split.bin.size_bytes += bytes;
    if (const std::int64_t short_by = (2352 - bytes % 2352) % 2352; short_by > 0) {
        split.bin.parts.push_back(decoded_part(split.bin.size_bytes, short_by, zeros_decoder()));
        split.bin.size_bytes += short_by;
    }
    return "";
}

// The emulator sheet's lines as the image's: one FILE line, each data track
// of 2352-byte sectors, each INDEX 01 where its file begins in the image.
bool read_playable(split_folder& split, const std::string& folder, const std::string& sheet_name)
{
    std::string text;
    if (!read_small_file(in_folder(folder, sheet_name), text))
        return unreadable(split, sheet_name + " cannot be read");
    split.inputs.push_back(in_folder(folder, sheet_name));
    bool lossy = false;
    bool rebuilt = false;
    std::int64_t file_start = 0;
    for (std::size_t from = 0; from < text.size();) {
        std::size_t end = text.find('\n', from);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(from, end - from);
        from = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t word = line.find_first_not_of(' ');
        const std::string command = word == std::string::npos ? "" : line.substr(word);
        if (command.rfind("REM SOURCE ", 0) == 0)
            continue;
        if (command.rfind("FILE \"", 0) == 0) {
            const std::size_t quote = command.rfind('"');
            file_start = split.bin.size_bytes / 2352;
            if (const std::string why = playable_part(split, folder, command.substr(6, quote - 6), lossy, rebuilt);
                !why.empty())
                return unreadable(split, why);
            if (file_start == 0)
                split.image_sheet += "FILE \"" + split.image_bin + "\" BINARY\r\n";
            continue;
        }
        if (command.rfind("TRACK ", 0) == 0 && ends_with(command, "MODE1/2048"))
            line.replace(line.size() - 4, 4, "2352");
        if (command.rfind("INDEX 01 ", 0) == 0)
            line = line.substr(0, word) + "INDEX 01 " + msf(file_start);
        split.image_sheet += line + "\r\n";
    }
    if (split.bin.parts.empty())
        return unreadable(split, sheet_name + " names no track file");
    if (lossy)
        split.not_original = "its audio is decoded from Ogg Vorbis, which does not keep the disc's samples";
    if (rebuilt)
        split.not_original += std::string(lossy ? "; " : "") +
                              "its data sectors are rebuilt as MODE1 from the 2048 bytes of each";
    split.what = split_folder::kind::playable;
    return true;
}

} // namespace

split_folder read_split_folder(const std::string& path, const std::string& image_bin)
{
    split_folder split;
    std::string folder = path;
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == path_separator))
        folder.pop_back();
    split.name = base_name(folder.c_str());
    split.image_bin = image_bin;
    if (!list_directory(folder.c_str(), [](const char*) {})) {
        unreadable(split, kind_of_path(folder.c_str()) == path_kind::missing ? "no such folder" : "not a folder");
        return split;
    }
    const std::vector<std::string> manifests = files_ending(folder, manifest_suffix);
    if (manifests.size() > 1) {
        unreadable(split, "it holds more than one manifest");
        return split;
    }
    if (manifests.size() == 1) {
        read_lossless(split, folder, manifests.front());
        return split;
    }
    const std::string sheet = emulator_sheet_in(folder, split.name);
    if (sheet.empty())
        unreadable(split, "it holds neither a manifest nor an emulator sheet");
    else
        read_playable(split, folder, sheet);
    return split;
}
