#include "app/disc_playlist.h"

#include "base/paths.h"
#include "base/platform.h"
#include "output/emulator_sheet.h"
#include "output/output_file.h"
#include "output/output_names.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct disc_entry {
    int number;
    const sheet_record* record;
};

struct disc_set {
    std::string out_parent;
    std::string name;               // the sheets' name without the disc part
    std::vector<disc_entry> discs;
};

// The sets the sheets make, in the order their first discs were given.
std::vector<disc_set> find_disc_sets(const std::vector<sheet_record>& records)
{
    std::vector<disc_set> sets;
    for (const sheet_record& record : records) {
        const disc_in_set disc = find_disc_part(name_without_extension(base_name(record.sheet.c_str())));
        if (record.out_name.empty() || !disc.found)
            continue;
        const auto same_set = [&](const disc_set& set) {
            return set.out_parent == record.out_parent && set.name == disc.set_name;
        };
        auto set = std::find_if(sets.begin(), sets.end(), same_set);
        if (set == sets.end())
            set = sets.insert(sets.end(), disc_set{record.out_parent, disc.set_name, {}});
        set->discs.push_back(disc_entry{disc.number, &record});
    }
    return sets;
}

// In disc order, each disc once (a sheet given twice is one disc); false
// when the set is no set to play: one disc, two folders for one number, or
// a disc without its emulator sheet.
bool order_discs(disc_set& set)
{
    std::stable_sort(set.discs.begin(), set.discs.end(),
                     [](const disc_entry& a, const disc_entry& b) { return a.number < b.number; });
    std::vector<disc_entry> kept;
    for (const disc_entry& disc : set.discs) {
        if (!disc.record->emulator_sheet_in_place)
            return false;
        if (!kept.empty() && kept.back().number == disc.number) {
            if (kept.back().record->out_name != disc.record->out_name)
                return false;
            continue;
        }
        kept.push_back(disc);
    }
    set.discs = kept;
    return set.discs.size() >= 2;
}

// The line of one disc: its emulator sheet from the playlist's folder. A
// line that begins with '#' is a comment to m3u readers: "./" before it
// makes it a path.
std::string playlist_line(const std::string& out_name)
{
    const std::string line = out_name + "/" + emulator_sheet_file_name(out_name);
    return line[0] == '#' ? "./" + line : line;
}

std::string playlist_text(const disc_set& set)
{
    std::string text;
    for (const disc_entry& disc : set.discs)
        text += playlist_line(disc.record->out_name) + "\r\n";
    return text;
}

// A playlist this program wrote: text whose every line names an emulator
// sheet of its own, "NAME/NAME.cue" (or "./NAME/NAME.cue"), or names one
// that is no longer there (a disc whose rerun failed). The lines of those still there are `kept`.
// Anything else at the name (the source sheets' playlist that came with
// the images, an empty or binary file) is the user's.
bool is_own_playlist(const char* path, const run_paths& folder, std::string& kept)
{
    constexpr std::size_t limit = std::size_t{1} << 20;
    std::string text;
    if (kind_of_path(path) != path_kind::regular_file || !read_file_start(path, text, limit) || text.empty() ||
        text.size() == limit || text.find('\0') != std::string::npos)
        return false;
    kept.clear();
    std::string owner;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string name = line.compare(0, 2, "./") == 0 ? line.substr(2) : line;
        const std::size_t slash = name.find('/');
        if (slash == std::string::npos || name.substr(slash + 1) != emulator_sheet_file_name(name.substr(0, slash)))
            return false;
        const std::string sheet = output_path(folder, name);
        if (read_sheet_source(sheet.c_str(), owner))
            kept += line + "\r\n";
        else if (kind_of_path(sheet.c_str()) != path_kind::missing)
            return false;
    }
    return true;
}

void put_playlist(console& c, temporary_files& temporaries, const disc_set& set, const run_paths& paths,
                  const std::string& name, const std::string& text)
{
    output_folder folder{&paths, &temporaries, {}};
    for (const disc_entry& disc : set.discs)
        if (const file_identity sheet = identify_file(disc.record->sheet.c_str(), true); sheet.known)
            folder.inputs.push_back(sheet);
    output_file out;
    out.hashing = output_hash::none;
    if (const int failure = open_output_file(out, folder, name.c_str())) {
        report(c, "cannot create %s: %s", out.final_path.c_str(), describe_open_failure(failure));
        return;
    }
    std::fwrite(text.data(), 1, text.size(), out.stream.get());
    if (commit_output_file(c, out))   // reported when it fails
        flush_folder_to_disk(output_dir_path(paths).c_str());
}

// Writes the set's playlist when every disc is in place; else rewrites one
// it wrote earlier without the discs no longer there.
void update_playlist(console& c, temporary_files& temporaries, disc_set& set, const std::string& name)
{
    run_paths paths{};
    if (!paths_of_folder(set.out_parent.c_str(), paths)) {
        report(c, "%s not written: the path of its folder is too long", name.c_str());
        return;
    }
    remove_stale_temporaries(paths, name.c_str());
    const std::string path = output_path(paths, name);
    std::string held;
    const bool own = is_own_playlist(path.c_str(), paths, held);
    if (order_discs(set)) {
        const std::string text = playlist_text(set);
        if (kind_of_path(path.c_str()) != path_kind::missing && !own)
            report(c, "%s not written: a playlist of other files holds the name", path.c_str());
        else if (!own || held != text)   // a rerun that skipped every disc changes nothing
            put_playlist(c, temporaries, set, paths, name, text);
        return;
    }
    // A playlist must not send an emulator to a sheet no longer there.
    std::string text;
    if (own && read_file_start(path.c_str(), text, held.size() + 1) && text != held) {
        if (held.empty())
            remove_file(path.c_str());
        else
            put_playlist(c, temporaries, set, paths, name, held);
    }
}

} // namespace

void write_disc_playlists(console& c, temporary_files& temporaries, const std::vector<sheet_record>& records,
                          bool full_names)
{
    std::vector<disc_set> sets = find_disc_sets(records);
    for (std::size_t i = 0; i < sets.size(); ++i) {
        const std::string name = playlist_file_name(clean_output_name(sets[i].name, full_names));
        const auto same_playlist = [&](const disc_set& set) {
            return set.out_parent == sets[i].out_parent &&
                   same_file_name(playlist_file_name(clean_output_name(set.name, full_names)).c_str(), name.c_str());
        };
        const auto first = std::find_if(sets.begin(), sets.begin() + static_cast<std::ptrdiff_t>(i), same_playlist);
        if (first != sets.begin() + static_cast<std::ptrdiff_t>(i)) {
            report(c, "%s%s not written for \"%s\": it is the playlist of \"%s\" in this call "
                      "(--full-names or another name keeps the sets apart)",
                   sets[i].out_parent.c_str(), name.c_str(), sets[i].name.c_str(), first->name.c_str());
            continue;
        }
        update_playlist(c, temporaries, sets[i], name);
    }
}
