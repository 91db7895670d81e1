#include "cue/archive_source.h"

#include "base/paths.h"
#include "base/platform.h"
#include "cue/archive_member.h"
#include "cue/cue_reader.h"
#include "cue/file_parts.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {

// A sheet is a few kilobytes: a larger .cue is no sheet to read whole.
constexpr std::int64_t sheet_size_limit = std::int64_t{1} << 20;

bool same_name_in_any_case(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool ends_in_cue(const std::string& name)
{
    return name.size() > 4 && same_name_in_any_case(name.substr(name.size() - 4), ".cue");
}

// A sheet, and not the resource fork a Mac's zip keeps beside it.
bool is_sheet_name(const std::string& name)
{
    const char* base = base_name(name.c_str());
    return ends_in_cue(name) && std::strncmp(base, "._", 2) != 0 && name.rfind("__MACOSX/", 0) != 0;
}

struct member_record {
    std::string name;
    std::int64_t size;
};

// The member a FILE line names: beside the sheet in the archive, by its
// exact name, else in any letter case (a sheet written on Windows).
const member_record* find_member(const std::vector<member_record>& members, const std::string& wanted)
{
    for (const member_record& member : members)
        if (member.name == wanted)
            return &member;
    for (const member_record& member : members)
        if (same_name_in_any_case(member.name, wanted))
            return &member;
    return nullptr;
}


// The member's first bytes, for what the file holds: from a 7z through the
// pass the tracks read it by, so that probing each file does not unpack
// the ones before it again.
file_content probe_member(const std::string& archive_path, const member_record& member, bool raw_word,
                          const std::shared_ptr<solid_stream>& solid)
{
    if (raw_word)
        return bin_found(member.size).content;
    if (solid)
        return read_file_content([solid, name = member.name](std::int64_t offset, unsigned char* buffer,
                                                             std::size_t size) {
            return read_solid(*solid, name, offset, buffer, size);
        }, member.size);
    auto reader = std::make_shared<member_reader>();
    reader->archive_path = archive_path;
    reader->name = member.name;
    return read_file_content([reader](std::int64_t offset, unsigned char* buffer,
                                      std::size_t size) { return reader->read(offset, buffer, size); },
                             member.size);
}

// The archive's members, from their headers alone, and then the sheet's
// text, in a pass that stops right after it: passing over the files after
// it in a solid 7z block would unpack them.
bool list_members(const disc_name& disc, std::vector<member_record>& members, std::string& text, std::string& error)
{
    open_archive listing;
    if (!open_archive_file(disc.path.c_str(), listing) ||
        !visit_members(listing, [&](const std::string& name, std::int64_t size) {
            members.push_back(member_record{name, size});
            return true;
        })) {
        error = listing.error;
        return false;
    }
    if (disc.member.empty())
        return false;
    open_archive opened;
    bool read_sheet = false;
    const bool too_large = std::any_of(members.begin(), members.end(), [&](const member_record& member) {
        return member.name == disc.member && member.size > sheet_size_limit;
    });
    if (!too_large && open_archive_file(disc.path.c_str(), opened))
        visit_members(opened, [&](const std::string& name, std::int64_t size) {
            if (name != disc.member)
                return true;
            text.resize(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
            read_sheet = archive_read_data(opened.handle.get(), text.data(), text.size()) ==
                         static_cast<la_ssize_t>(text.size());
            return false;
        });
    if (!read_sheet && opened.error.empty()) {
        opened.member = disc.member;
        opened.fail(too_large ? "too large to be a CUE sheet" : archive_error_string(opened.handle.get()));
    }
    error = opened.error;
    return read_sheet;
}

// The files that the virtual BIN reads, to be unpacked: each once, however
// often the sheet names it.
void gather_packed_files(disc_source& source, const std::vector<member_record>& members)
{
    for (std::size_t i = 0; i < source.bin.parts.size(); ++i) {
        const std::string& name = source.bin.parts[i].path;
        auto file = std::find_if(source.packed.begin(), source.packed.end(),
                                 [&](const packed_file& packed) { return packed.name == name; });
        if (file == source.packed.end()) {
            const member_record* member = find_member(members, name);
            file = source.packed.insert(source.packed.end(), packed_file{name, member ? member->size : 0, {}, {}});
        }
        file->parts.push_back(i);
    }
}

// How many tracks read some of the file's parts.
int tracks_reading(const packed_file& file, const virtual_bin& bin, const disc_layout& layout)
{
    int tracks = 0;
    for (std::int32_t number = 1; number <= layout.track_count; ++number) {
        const std::int64_t first = std::int64_t{layout.tracks[number].start_sector} * raw_sector_size;
        const std::int64_t end = first + std::int64_t{layout.tracks[number].length_sectors} * raw_sector_size;
        tracks += std::any_of(file.parts.begin(), file.parts.end(), [&](std::size_t part) {
            const bin_part& p = bin.parts[part];
            return first < p.first_byte + p.bytes && p.first_byte < end;
        });
    }
    return tracks;
}

// The file's parts read from the archive's member: as they stand, or
// through their decoder (FLAC, big-endian audio, MODE1 user data).
void read_straight(disc_source& source, const packed_file& file, const decoder_maker& member,
                   const decoder_maker& hashed, std::size_t pass_rank)
{
    for (const std::size_t part : file.parts) {
        bin_part& p = source.bin.parts[part];
        p.pass_rank = pass_rank;
        if (p.decoder) {
            p.source = member;
            p.hashed_source = hashed;
        } else {
            p.decoder = member;
            p.verbatim = true;
        }
    }
}

std::shared_ptr<solid_stream> solid_pass(const std::string& archive, const std::vector<member_record>& members)
{
    auto solid = std::make_shared<solid_stream>();
    solid->archive_path = archive;
    for (const member_record& member : members)
        solid->order.push_back(member.name);
    return solid;
}

// Which files are unpacked, so that the extra room a split takes is at most
// the largest file. A zip compresses each member on its own and finds it
// through its directory: a file is read straight from the archive, save the
// one that most tracks read, where each would unpack it again up to its own
// start (or seek in it, a FLAC file). A 7z packs its files into one solid
// block that can only be read from its start: a sheet's one file is
// unpacked, and two or more are read straight, in one pass, with the tracks
// written one after another.
void choose_files_to_unpack(disc_source& source, const std::vector<member_record>& members,
                            const std::shared_ptr<solid_stream>& solid)
{
    const bool zip = solid == nullptr;
    std::vector<packed_file>& packed = source.packed;
    if (packed.empty() || (!zip && packed.size() < 2))
        return;
    if (zip) {
        const auto most_read = std::max_element(packed.begin(), packed.end(), [&](const packed_file& a,
                                                                                  const packed_file& b) {
            const int tracks_a = tracks_reading(a, source.bin, source.layout);
            const int tracks_b = tracks_reading(b, source.bin, source.layout);
            return tracks_a != tracks_b ? tracks_a < tracks_b : a.size < b.size;
        });
        for (const packed_file& file : packed)
            if (&file != &*most_read)
                read_straight(source, file, member_decoder_maker(source.archive, file.name), {}, 0);
        packed = {*most_read};
        return;
    }
    const std::shared_ptr<solid_stream> hashed = solid_pass(source.archive, members);
    for (const packed_file& file : packed)
        read_straight(source, file, solid_decoder_maker(solid, file.name), solid_decoder_maker(hashed, file.name),
                      place_in_pass(*solid, file.name));
    source.bin.one_reader = true;
    packed.clear();
}

constexpr unsigned char zip_mark[] = {'P', 'K', 3, 4};

bool starts_with(const char* path, const unsigned char* mark, std::size_t size)
{
    file_stream file = open_regular_file(path);
    unsigned char head[8] = {};
    return file && size <= sizeof head && std::fread(head, 1, size, file.get()) == size &&
           std::memcmp(head, mark, size) == 0;
}

// The fix for what went wrong: the archive, or the room to unpack it.
std::string damaged_hint(bool in_archive)
{
    return in_archive ? " (a damaged or cut-short archive: copy or download it again)"
                      : " (-o DIR puts the output folders, and what is unpacked, on another disk)";
}

} // namespace

bool is_archive_source(const char* path)
{
    static constexpr unsigned char empty_zip[] = {'P', 'K', 5, 6};
    static constexpr unsigned char seven_zip[] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
    return starts_with(path, zip_mark, sizeof zip_mark) || starts_with(path, empty_zip, sizeof empty_zip) ||
           starts_with(path, seven_zip, sizeof seven_zip);
}

std::vector<std::string> list_archive_sheets(const char* path)
{
    std::vector<std::string> sheets;
    open_archive opened;
    if (open_archive_file(path, opened))
        visit_members(opened, [&](const std::string& name, std::int64_t) {
            if (is_sheet_name(name))
                sheets.push_back(name);
            return true;
        });
    return sheets;
}

disc_source read_archive_source(const disc_name& disc)
{
    disc_source source;
    source.archive = disc.path;
    std::vector<member_record> members;
    std::string text;
    std::string error;
    if (!list_members(disc, members, text, error)) {
        source.refusal = error.empty() ? "the archive holds no CUE sheet (.cue)" : error + damaged_hint(true);
        return source;
    }
    source.files.push_back(disc.path);
    const std::string sheet_dir(disc.member.c_str(), static_cast<std::size_t>(
                                                         base_name(disc.member.c_str()) - disc.member.c_str()));
    const std::shared_ptr<solid_stream> solid =
        starts_with(disc.path.c_str(), zip_mark, sizeof zip_mark) ? nullptr : solid_pass(disc.path, members);
    std::vector<std::string> paths;
    cue_read read = read_cue_text(text, [&](const char* name, bool raw_word) {
        const std::string base = base_name_anywhere(name);
        const member_record* member = find_member(members, sheet_dir + base);
        if (member == nullptr)
            return bin_found{-1};
        paths.push_back(member->name);
        bin_found found{member->size, member->name.substr(sheet_dir.size())};
        found.content = probe_member(disc.path, *member, raw_word, solid);
        return found;
    });
    // What a file holds is read from its first bytes: damage there is the archive's.
    if (solid && !solid_damage(*solid).empty()) {
        source.refusal = solid_damage(*solid) + damaged_hint(true);
        return source;
    }
    source.sheet = std::move(read.sheet);
    if (!read.ok) {
        source.result = disc_source::state::malformed;
        source.error = std::move(read.error);
        return source;
    }
    source.result = disc_source::state::read;
    source.sheet_name = base_name(disc.member.c_str());
    source.sheet_bytes = text;
    source.layout = lay_out_tracks(source.sheet);
    // Until unpacked, each part names its file by its name in the archive.
    source.bin = join_sheet_files(source.sheet, source.layout, paths);
    gather_packed_files(source, members);
    choose_files_to_unpack(source, members, solid);
    return source;
}

bool unpack_archive_files(disc_source& source, temporary_files& temporaries,
                          const std::function<std::string(std::size_t n)>& temporary_path, std::string& failure)
{
    open_archive opened;
    std::vector<unsigned char> block(copy_block_size);
    std::size_t left = source.packed.size();
    const bool read = open_archive_file(source.archive.c_str(), opened) &&
                      visit_members(opened, [&](const std::string& name, std::int64_t) {
                          const auto file = std::find_if(source.packed.begin(), source.packed.end(), [&](auto& p) {
                              return p.name == name && p.unpacked_path.empty();
                          });
                          if (file == source.packed.end())
                              return true;
                          const std::string path = temporary_path(static_cast<std::size_t>(file - source.packed.begin()));
                          file_stream out = create_temporary(temporaries, path.c_str());
                          if (!out) {
                              failure = "cannot create " + path + ": " + std::strerror(errno) + damaged_hint(false);
                              return false;
                          }
                          file->unpacked_path = path;
                          la_ssize_t got = 0;
                          while ((got = archive_read_data(opened.handle.get(), block.data(), block.size())) > 0)
                              if (std::fwrite(block.data(), 1, static_cast<std::size_t>(got), out.get()) !=
                                  static_cast<std::size_t>(got))
                                  break;
                          if (got < 0) {
                              opened.fail(archive_error_string(opened.handle.get()));
                              failure = opened.error + damaged_hint(true);
                          }
                          else if (!close_file(out))
                              failure = "cannot write " + path + ": " + std::strerror(errno) + damaged_hint(false);
                          return failure.empty() && --left > 0;
                      });
    if (!read && failure.empty())
        failure = opened.error + damaged_hint(true);
    else if (failure.empty() && left > 0)
        failure = "a file the sheet names is no longer in the archive" + damaged_hint(true);
    if (!failure.empty()) {
        remove_unpacked_files(source, temporaries);
        return false;
    }
    for (const packed_file& file : source.packed)
        for (const std::size_t part : file.parts)
            source.bin.parts[part].path = file.unpacked_path;
    return true;
}
