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

std::string playlist_text(const disc_set& set)
{
    std::string text;
    for (const disc_entry& disc : set.discs)
        text += disc.record->out_name + "/" + emulator_sheet_file_name(disc.record->out_name) + "\r\n";
    return text;
}

// A playlist the user keeps beside the sheets (one that lists the source
// sheets, say) is not replaced: every line of one this program wrote names
// one of its emulator sheets.
bool holds_another_playlist(const char* path, const run_paths& folder)
{
    if (kind_of_path(path) != path_kind::regular_file)
        return false;
    file_stream file = open_regular_file(path);
    if (!file)
        return false;
    std::string owner;
    for (char line[path_capacity]; std::fgets(line, sizeof line, file.get()) != nullptr;) {
        line[std::strcspn(line, "\r\n")] = '\0';
        if (line[0] == '\0')
            continue;
        if (!read_sheet_source(output_path(folder, line).c_str(), owner))
            return true;
    }
    return false;
}

// A regular file at path holds exactly text.
bool holds_text(const char* path, const std::string& text)
{
    if (kind_of_path(path) != path_kind::regular_file)
        return false;
    file_stream file = open_regular_file(path);
    std::string held(text.size() + 1, '\0');
    return file && std::fread(held.data(), 1, held.size(), file.get()) == text.size() &&
           held.compare(0, text.size(), text) == 0;
}

void write_playlist(console& c, temporary_files& temporaries, const disc_set& set, bool full_names)
{
    const std::string name = playlist_file_name(clean_output_name(set.name, full_names));
    run_paths paths{};
    if (!paths_of_folder(set.out_parent.c_str(), paths)) {
        report(c, "%s not written: the path of its folder is too long", name.c_str());
        return;
    }
    output_folder folder{&paths, &temporaries, {}};
    for (const disc_entry& disc : set.discs)
        if (const file_identity sheet = identify_file(disc.record->sheet.c_str(), true); sheet.known)
            folder.inputs.push_back(sheet);
    output_file out;
    const std::string text = playlist_text(set);
    const std::string path = output_path(paths, name);
    if (holds_another_playlist(path.c_str(), paths)) {
        report(c, "%s not written: a playlist of other files holds the name", path.c_str());
        return;
    }
    if (holds_text(path.c_str(), text))
        return;   // a rerun that skipped every disc changes nothing
    if (const int failure = open_output_file(out, folder, name.c_str())) {
        report(c, "cannot create %s: %s", out.final_path.c_str(), describe_open_failure(failure));
        return;
    }
    std::fwrite(text.data(), 1, text.size(), out.stream.get());
    commit_output_file(c, out);   // reported when it fails
}

} // namespace

void write_disc_playlists(console& c, temporary_files& temporaries, const std::vector<sheet_record>& records,
                          bool full_names)
{
    for (disc_set& set : find_disc_sets(records))
        if (order_discs(set))
            write_playlist(c, temporaries, set, full_names);
}
