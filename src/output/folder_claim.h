// Claiming the output folder: a run makes it, waits for any other run
// writing there, and makes sure it is this sheet's before it writes a file.
#pragma once

#include "base/console.h"
#include "base/platform.h"
#include "cue/disc_source.h"
#include "output/output_file.h"

#include <string>

// The output folder as a run holds it, from its claim to its last file.
struct folder_claim {
    folder_lock lock;          // no other run writes in the folder meanwhile
    int unmade = 0;            // errno: why the folder could not be made; the TOC's step tells it
    std::string unmade_path;   // the folder that could not be made: the output folder's, or one above it
};

// The advice where the outputs could go instead, naming only the options
// not given already: "-o DIR or --full-names gives this sheet a folder of
// its own" with neither.
std::string own_folder_advice(const output_naming& naming);

// The advice for a folder the run cannot write in: "give a folder you can
// write to with -o DIR", or with -o "give -o a folder you can write to".
std::string writable_folder_advice(const output_naming& naming);

// The lock of an output folder that is there already, to wait for a run
// writing in it; none for a folder that is missing or a symbolic link.
folder_lock lock_existing_folder(const run_paths& paths);

// Makes the output folder the run's own: creates it (an existing one is
// used, unless another sheet's tracks are in it, its name is a symbolic
// link, or it is the sheet's own folder), waits for any other run there to end, records the sheet as its
// owner if it has none, and clears it of the temporaries that killed runs
// left. Says "Creating directory:". False when the run ends there.
bool claim_output_folder(voice c, const output_folder& folder, const disc_name& disc, folder_claim& claim);
