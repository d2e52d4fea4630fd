// What the Options and Disks pages reach of the application: the settings and the ROM list
// they edit, and the machine they act on, which the application may rebuild at a cold reset.
#pragma once

#include <string>

#include "floppy/DiskImage.h"
#include "ui/RomList.h"
#include "ui/Settings.h"

namespace vexil {

class Machine;

class PageHost {
public:
    virtual MachineConfig& Config() = 0;
    virtual RomList& Roms() = 0;
    // Hands the settings that take effect at once to the current machine.
    virtual void ApplySettings() = 0;
    // Cold: clears RAM and rebuilds the machine first when the settings that shape it changed.
    virtual void ResetMachine(bool cold) = 0;
    virtual bool RomLoaded() const = 0;
    // Why the last TOS ROM could not be loaded; empty when it was.
    virtual const std::string& RomProblem() const = 0;
    // Drive A of the current machine; the `DriveA` setting follows what it holds.
    virtual InsertResult InsertDiskA(const std::string& path) = 0;
    virtual void EjectDiskA() = 0;
    virtual const std::string& DriveAPath() const = 0;
    virtual Machine* CurrentMachine() = 0;  // null while there is none

protected:
    ~PageHost() = default;
};

}  // namespace vexil
