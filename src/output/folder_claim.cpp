#include "output/folder_claim.h"

#include "output/emulator_sheet.h"
#include "output/folder_owner.h"
#include "output/output_names.h"

#include <cerrno>
#include <string>

namespace {

void report_folder_of_another_sheet(voice c, const output_folder& folder, const std::string& owner)
{
    report(c, "%s holds the tracks of another sheet, \"%s\"; nothing was overwritten (%s)",
           output_dir_path(*folder.paths).c_str(), printable_name(owner).c_str(),
           own_folder_advice(folder.naming).c_str());
}

// Another sheet whose name gives the same folder must not overwrite the
// tracks of the first. The owner record says whose they are, byte for byte;
// a folder an earlier version wrote has only its emulator sheet's REM SOURCE
// line, which holds the name in printable form. `recorded`: the folder has
// an owner record.
bool folder_belongs_to_another_sheet(voice c, const output_folder& folder, const disc_name& disc, bool& recorded)
{
    const run_paths& paths = *folder.paths;
    std::string owner;
    std::string own_name;
    recorded = read_folder_owner(paths, owner);
    if (recorded)
        own_name = owner_name_of(disc, paths);
    else if (read_sheet_source(output_path(paths, emulator_sheet_file_name(paths)).c_str(), owner))
        own_name = source_name_of(disc, paths);
    else
        return false;
    if (same_file_name(owner.c_str(), own_name.c_str()))
        return false;
    report_folder_of_another_sheet(c, folder, owner);
    return true;
}

} // namespace

std::string own_folder_advice(const output_naming& naming)
{
    const bool output_dir = naming.output_dir != nullptr && *naming.output_dir != '\0';
    const char* options = output_dir && naming.full_names ? "another -o DIR"
                          : output_dir                   ? "--full-names"
                          : naming.full_names            ? "-o DIR"
                                                         : "-o DIR or --full-names";
    return std::string(options) + " gives this sheet a folder of its own";
}

std::string writable_folder_advice(const output_naming& naming)
{
    return naming.output_dir != nullptr && *naming.output_dir != '\0' ? "give -o a folder you can write to"
                                                                      : "give a folder you can write to with -o DIR";
}

folder_lock lock_existing_folder(const run_paths& paths)
{
    const std::string dir = output_dir_path(paths);
    if (kind_of_path(dir.c_str()) != path_kind::directory || is_symbolic_link(dir.c_str()))
        return {};
    return lock_folder(dir.c_str(), folder_lock_file_name());
}

bool claim_output_folder(voice c, const output_folder& folder, const disc_name& disc, folder_claim& claim)
{
    const run_paths& paths = *folder.paths;
    const std::string dir = output_dir_path(paths);
    say(c, "Creating directory: %s\n\n", paths.out_name);
    if (claim.unmade == 0 && !make_directory(dir.c_str()) && errno != EEXIST) {
        claim.unmade = errno;
        claim.unmade_path = dir;
    }
    if (claim.unmade != 0)
        return true;
    // Its tracks would land in the folder it leads to, another sheet's perhaps.
    if (is_symbolic_link(dir.c_str())) {
        report(c, "%s is a symbolic link; nothing was written through it (%s)", dir.c_str(),
               own_folder_advice(folder.naming).c_str());
        return false;
    }
    // A file at the name: the TOC's step tells it.
    if (kind_of_path(dir.c_str()) != path_kind::directory) {
        claim.unmade = EEXIST;
        return true;
    }
    // -o naming the folder above the sheet's: the tracks would land among
    // its sources, and replace a user's file of a track's name.
    if (same_folder(dir.c_str(), paths.cue_dir)) {
        report(c, "%s is the folder of the sheet itself; nothing was written there (give -o another folder)",
               dir.c_str());
        return false;
    }
    if (!claim.lock.held())
        claim.lock = lock_folder(dir.c_str(), folder_lock_file_name());
    bool recorded = false;
    if (folder_belongs_to_another_sheet(c, folder, disc, recorded))
        return false;
    remove_stale_temporaries(paths);
    if (!recorded)
        write_folder_owner(c, folder, owner_name_of(disc, paths).c_str());
    return true;
}
