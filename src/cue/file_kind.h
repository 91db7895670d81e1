// What a file named as a CUE sheet holds when no FILE or TRACK line can be
// read in it: for the one line that tells the user what was given instead.
#pragma once

#include <cstdio>
#include <string>

// Looks at the file's first bytes and says what they look like, with what
// to do instead: "it is empty", "it looks like a BIN of raw CD sectors;
// ...". The file is read from its start.
std::string describe_non_sheet(std::FILE* file);
