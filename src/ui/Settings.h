// The user's settings as the program holds them for the whole run: the record the pages edit,
// which the application reads from the settings file at start-up and writes back after a
// normal quit (app/Config.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vexil {

// Fields carry the names of the values they are stored under.
struct MachineConfig {
    // [Graphics]
    uint32_t ForceVBLSync = 0;
    uint32_t FrameSkip = 0;  // 0-9
    uint32_t VideoDevice = 0;
    uint32_t VideoAdapter = 0;
    uint32_t VideoRefresh = 0;
    uint8_t bFullscreen = 0;
    uint8_t bAskFullscreen = 1;
    // [Machine]
    uint32_t RAMSize = 2;  // 0 512 KB, 1 1 MB, 2 2 MB, 3 4 MB, 4 2.5 MB (above 4: masked with 3)
    uint32_t FastDisk = 0;
    uint32_t YMSound = 1;
    uint32_t bDacSound = 1;  // stored as "bDACSound"
    uint32_t bLowPass = 1;
    uint32_t bProfile = 0;
    uint32_t bSoundDebug = 0;
    uint32_t DiskSound = 1;
    uint32_t DriveBConnected = 1;  // 0: the machine has one floppy drive
    uint32_t Machine = 0;          // 0 ST, 1 STE
    uint32_t Monitor = 0;          // 0 colour, 1 monochrome
    uint32_t bDontShow = 0;
    uint32_t bUseJoystick = 0;
    uint32_t bArrowForJoystick = 1;
    uint32_t SteJoypad = 0;  // the joystick goes to the STE's extended port A, as a joypad
    uint32_t bUseTexture = 0;
    uint8_t bUseTextureFiltering = 0;
    uint32_t g_softwareMode = 1;  // 0-3
    // [Disks]
    std::string DriveA;
    std::string DriveB;
    std::string Directory;
    uint32_t AutoInsertDiskA = 1;
    uint32_t WriteProtectDisks = 0;         // 1: every floppy is write-protected, nothing kept
    std::string FolderDrive;                // a host folder served as drive C: (empty: none)
    std::vector<std::string> RecentImages;  // the last images opened, newest first (at most ten)

    // Derived from RAMSize by ApplyRamSize.
    uint32_t ramBytes = 0x200000;
};

// Sets `RAMSize` (0 512 KB, 1 1 MB, 2 2 MB, 3 4 MB, 4 2.5 MB; larger values masked with 3)
// and the bytes it stands for.
void ApplyRamSize(MachineConfig& config, uint32_t RAMSize);

constexpr size_t kMaxConfigPath = 511;
constexpr size_t kRecentImages = 10;  // the disk page's list of the last images opened  // paths of [Disks]
                                      // fill 512 bytes with their terminator

}  // namespace vexil
