// Raw CD-ROM data sectors: sync, header, user data, EDC and ECC, as a drive
// reads them, for MODE1 and MODE2 (XA Form 1).
#pragma once

#include "sample_disc.h"

// The sectors of a data track holding the image's 2048-byte blocks, from
// LBA 0 on.
byte_vector encode_data_track(const byte_vector& image, bool mode2);
