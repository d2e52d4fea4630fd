// The batch mode: runs the machine without a window or sound for a number of frames, with the
// input of a script if one is given. A run is the same every time: the keyboard processor's
// clock starts at a fixed time (2000-01-01 12:00:00) unless the script sets it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vexil {

struct HeadlessOptions {
    std::string romPath = "roms/etos256us.img";
    int frames = 250;       // 5 seconds of the machine's time
    uint32_t Machine = 0;   // 0 ST, 1 STE
    uint32_t RAMSize = 2;   // 0 512 KB, 1 1 MB, 2 2 MB, 3 4 MB, 4 2.5 MB
    uint32_t Monitor = 0;   // 0 colour, 1 monochrome
    std::string loadState;  // start from this save state (its machine and RAM size hold)
    std::string saveState;  // write the state here after the last frame
    std::string DriveA;     // disk images for drives A and B (raw, MSA, DIM, FDI, STX, or in a zip)
    std::string DriveB;
    std::string FolderDrive;  // a host folder as drive C:
    bool FolderDriveReadOnly = false;
    std::string run;  // a program on C: the desktop starts ("C:\PATH\PROG.PRG")
    char boot = 'c';  // with drive C:, 'a' boots from the floppy instead
    bool FastDisk = false;
    bool YMSound = true;
    bool DiskSound = true;
    bool bLowPass = true;
    bool DriveBConnected = true;
    std::string wavPath;      // write the mixed sound here, as a device would get it (44,100 Hz,
                              // mono, 16-bit, the frame's share of 44,100 a second)
    std::string inputScript;  // keyboard, mouse and joystick events by frame (InputScript.h)
    std::string screenshot;   // write the last picture here as a TGA file
    std::string printer;      // the printer port's bytes to this file ("-": standard output)
    std::string serial;       // the serial port's bytes to this file ("-": standard output)
    std::string serialIn;     // bytes the serial port receives
    bool natfeats = false;    // the native-feature calls; NF_STDERR goes to `err`
};

// Returns the process exit status: 0 when every frame ran, 2 when the input script is
// unreadable or has a bad line (nothing runs), 1 when the ROM, a disk image or a save state
// or a port's file was refused, a save state, the sound file or the screenshot could not be written, or the
// processor stopped (the reason goes to `err`). A line of state goes to `out` at the end. With
// the native features on, a program that ends through them ends the run: 0 for exit code 0,
// else 1.
int RunHeadless(const HeadlessOptions& options, std::FILE* out, std::FILE* err);

}  // namespace vexil
