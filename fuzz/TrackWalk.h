// Every track of a disk as the turning disk and the sector reads see it.
#pragma once

#include <cstdint>

#include "floppy/DiskImage.h"

namespace vexil::fuzz {

inline void ReadEveryTrack(DiskImage& disk) {
    static uint8_t track[kTrackBytes];
    for (int c = 0; c < 86; ++c) {
        for (int s = 0; s < 2; ++s) {
            const TrackView view = disk.Track(c, s);
            if (view.count != 0) BuildTrackBytes(view, disk, track);
            for (int r = 0; r < 12; ++r) disk.ReadSector(c, s, r);
        }
    }
}

}  // namespace vexil::fuzz
