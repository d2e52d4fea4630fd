// Drive C: of GEMDOS served from a host folder.
//
// The machine hands this class every GEMDOS call that reaches the entry TOS installed (see
// GemdosTrap); it takes over the calls that name C: or one of its own handles and lets TOS
// keep the rest. It knows the ST only through the memory it is given: the arguments, the
// current process's basepage (its current drive at 0x37, its DTA at 0x20, its parent at 0x24)
// and the buffers. Every address and length from the ST is checked against that memory before
// use, and every host path goes through HostFolder, which keeps the calls inside the folder.
//
// Served calls: Dsetpath Dgetpath Dfree Dcreate Ddelete Fsfirst Fsnext Fopen Fcreate Fclose
// Fread Fwrite Fseek Fdelete Frename Fattrib Fdatime Fdup Fforce, and Pexec modes 0 and 3 of a
// program on C:, whose loading (LoadProgram, in GemdosLoad.cpp with the save state) runs
// between TOS's own Pexec calls.
// Observed: Pterm0, Pterm and Ptermres close the files of the ending process and forget its
// current folder. Left to TOS: everything else (Dsetdrv, Dgetdrv, Fsetdta, Fgetdta...).
//
// Handles: kFirstHandle and up, clear of TOS's (0-5 standard, 6-80 files, negative devices).
// The state is plain data (paths relative to the folder, offsets, owners), so it is what a
// save state stores; the host descriptors are opened again on load.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gemdos/GemdosNames.h"
#include "gemdos/HostFolder.h"

namespace vexil {
class StateWriter;
class StateReader;
}  // namespace vexil

namespace vexil::gemdos {

// The ST's memory as the drive may use it: big-endian bytes; false, with nothing copied, when
// any byte of the range lies outside what a program may read (or write).
class GuestMemory {
public:
    virtual ~GuestMemory() = default;
    virtual bool Read(uint32_t address, uint8_t* out, uint32_t length) const = 0;
    virtual bool Write(uint32_t address, const uint8_t* in, uint32_t length) = 0;

    bool ReadWord(uint32_t address, uint16_t& value) const;
    bool ReadLong(uint32_t address, uint32_t& value) const;
    bool WriteWord(uint32_t address, uint16_t value);
    bool WriteLong(uint32_t address, uint32_t value);
    // A NUL-terminated string of at most `limit` characters; false when it is longer or leaves
    // the memory.
    bool ReadString(uint32_t address, uint32_t limit, std::string& out) const;
};

constexpr int16_t kFirstHandle = 100;
constexpr int kMaxHandles = 40;
constexpr int kMaxFiles = 40;
constexpr int kMaxSearches = 32;
constexpr int kMaxProcesses = 24;
constexpr int kMaxForced = 24;
constexpr int kPathBytes = 128;  // a path inside the folder, NUL included
constexpr uint32_t kMaxStPath = 255;

// GEMDOS function numbers.
namespace fn {
constexpr uint16_t kPterm0 = 0x00, kDfree = 0x36, kDcreate = 0x39, kDdelete = 0x3A, kDsetpath = 0x3B;
constexpr uint16_t kFcreate = 0x3C, kFopen = 0x3D, kFclose = 0x3E, kFread = 0x3F, kFwrite = 0x40;
constexpr uint16_t kFdelete = 0x41, kFseek = 0x42, kFattrib = 0x43, kFdup = 0x45, kFforce = 0x46;
constexpr uint16_t kDgetpath = 0x47, kPexec = 0x4B, kPterm = 0x4C, kFsfirst = 0x4E, kFsnext = 0x4F;
constexpr uint16_t kFrename = 0x56, kFdatime = 0x57, kPtermres = 0x31, kMfree = 0x49;
}  // namespace fn

// Basepage offsets.
namespace bp {
constexpr uint32_t kLowTpa = 0x00, kHighTpa = 0x04, kTextBase = 0x08, kTextLength = 0x0C;
constexpr uint32_t kDataBase = 0x10, kDataLength = 0x14, kBssBase = 0x18, kBssLength = 0x1C;
constexpr uint32_t kDta = 0x20, kParent = 0x24, kEnvironment = 0x2C, kCurrentDrive = 0x37;
constexpr uint32_t kSize = 0x100;
}  // namespace bp

struct GemdosReply {
    enum class Kind : uint8_t {
        kPass,  // TOS handles the call
        kDone,  // d0 is the result
        kLoad,  // a program on C: is to be loaded: run Pexec 7 with prgFlags, then LoadProgram
    };
    Kind kind = Kind::kPass;
    int32_t d0 = 0;
    uint16_t mode = 0;  // Pexec: 0 load and go, 3 load only
    uint32_t prgFlags = 0;
};

class GemdosDrive {
public:
    GemdosDrive();

    // Serves `folder` as drive C: (`readOnly`: every write is refused with EACCDN). False with
    // the reason when the folder cannot be read.
    bool Attach(const std::string& folder, bool readOnly, std::string& error);
    void Detach();
    bool Attached() const { return folder_.IsOpen(); }
    const HostFolder& Folder() const { return folder_; }

    // Closes every file and forgets every search and current folder (the machine's reset).
    void Reset();

    // One call: `args` is the address of the function word, `basepage` the current process's.
    GemdosReply Call(GuestMemory& memory, uint32_t args, uint32_t basepage);
    // The second half of a Pexec of a program on C:, with the basepage TOS made: the program
    // copied in, relocated, its basepage filled in and its BSS cleared. 0 or EPLFMT / ENSMEM.
    int32_t LoadProgram(GuestMemory& memory, uint32_t basepage);

    // Lines put before the desktop's start-up file when it is served (EMUDESK.INF at the root
    // of C:; the AES reads only its first 300 bytes); empty: it is served as the folder holds it.
    void SetDesktopLines(const std::string& lines) { desktopLines_ = lines; }

    // Save states: the open files, searches and current folders. Load checks that every open
    // file is still there (false with the reason when one is gone) and takes the state only
    // with `commit`.
    void Save(StateWriter& out) const;
    bool Load(StateReader& in, bool commit, std::string& error);

    // Counts for tests and the debugger.
    int OpenFiles() const;

private:
    struct File {
        uint8_t used = 0;
        uint8_t write = 0;
        uint16_t refs = 0;
        uint32_t offset = 0;
        uint32_t virtualLength = 0;  // > 0: the served start-up file, not a host file
        char path[kPathBytes] = {};
        template <class Archive>
        void Fields(Archive& a) {
            a(used)(write)(refs)(offset)(virtualLength)(path);
        }
    };
    struct Handle {
        uint32_t owner = 0;  // basepage of the process that opened it; 0: free
        int16_t file = -1;
        template <class Archive>
        void Fields(Archive& a) {
            a(owner)(file);
        }
    };
    struct Search {
        uint32_t serial = 0;  // 0: free
        uint16_t next = 0;    // index of the next entry to look at
        uint8_t attribute = 0;
        uint8_t root = 0;
        char pattern[16] = {};
        char folder[kPathBytes] = {};
        template <class Archive>
        void Fields(Archive& a) {
            a(serial)(next)(attribute)(root)(pattern)(folder);
        }
    };
    struct Process {
        uint32_t basepage = 0;       // 0: free
        char path[kPathBytes] = {};  // the current folder on C:, ST form ("" the root, "\AUTO")
        template <class Archive>
        void Fields(Archive& a) {
            a(basepage)(path);
        }
    };
    struct Forced {
        uint32_t basepage = 0;  // 0: free
        int16_t standard = 0;
        int16_t file = -1;
        template <class Archive>
        void Fields(Archive& a) {
            a(basepage)(standard)(file);
        }
    };
    struct State {
        File files[kMaxFiles];
        Handle handles[kMaxHandles];
        Search searches[kMaxSearches];
        Process processes[kMaxProcesses];
        Forced forced[kMaxForced];
        uint32_t nextSerial = 1;
        uint32_t nextSearch = 0;
        char load[kPathBytes] = {};  // the program a Pexec is loading
        template <class Archive>
        void Fields(Archive& a) {
            a(files)(handles)(searches)(processes)(forced)(nextSerial)(nextSearch)(load);
        }
    };

    // A path on C: resolved: the host path of its folder and, when the last name exists, of it.
    struct Resolved {
        int32_t error = 0;
        std::string folder;    // host path of the folder holding the last name
        std::string stFolder;  // the same in ST form ("" the root)
        std::string leaf;      // the last name as given, upper case ("" when the path ends in '\')
        std::string host;      // host path of the last name (empty: it does not exist)
        HostFolder::Entry entry;
    };

    struct Listed {
        std::string st, host;
        uint8_t attribute = 0;
        uint32_t size = 0;
        std::time_t modified = 0;
        bool escapes = false;
    };

    bool OnDriveC(const std::string& path, uint32_t basepage, GuestMemory& memory) const;
    bool ReadPath(GuestMemory& memory, uint32_t address, std::string& out) const;
    Resolved Resolve(const std::string& path, uint32_t basepage, GuestMemory& memory) const;
    bool Listing(const std::string& folder, bool root, std::vector<Listed>& out) const;
    std::string CurrentFolder(uint32_t basepage, GuestMemory& memory) const;
    Process* ProcessEntry(uint32_t basepage);
    int FileOfHandle(int32_t handle, uint32_t basepage, GuestMemory& memory) const;
    int ReadyFile(int16_t handle, uint32_t basepage, GuestMemory& memory, GemdosReply& refused);
    bool BufferForDriveC(GuestMemory& m, uint32_t args, uint32_t basepage, uint32_t& buffer) const;
    int32_t NewHandle(int file, uint32_t owner);
    int NewFile(const std::string& path, bool write, int fd, uint32_t virtualLength);
    void ReleaseFile(int file);
    void EndProcess(uint32_t basepage);
    bool HostReady(int file);

    GemdosReply Dsetpath(GuestMemory& m, uint32_t args, uint32_t basepage);
    GemdosReply Dgetpath(GuestMemory& m, uint32_t args, uint32_t basepage);
    GemdosReply Dfree(GuestMemory& m, uint32_t args, uint32_t basepage);
    GemdosReply Dcreate(GuestMemory& m, uint32_t args, uint32_t basepage);
    GemdosReply Ddelete(GuestMemory& m, uint32_t args, uint32_t basepage);
    GemdosReply Fsfirst(GuestMemory& m, uint32_t args, uint32_t basepage);
    GemdosReply Fsnext(GuestMemory& m, uint32_t basepage);
    GemdosReply Fopen(GuestMemory& m, uint32_t args, uint32_t basepage);
    GemdosReply Fcreate(GuestMemory& m, uint32_t args, uint32_t basepage);
    GemdosReply OpenHandle(const std::string& host, bool write, bool create, bool makeReadOnly,
                           uint32_t basepage);
    GemdosReply Fclose(GuestMemory& m, uint32_t args, uint32_t basepage);
    GemdosReply Transfer(GuestMemory& m, uint32_t args, uint32_t basepage, bool write);
    GemdosReply Fseek(GuestMemory& m, uint32_t args, uint32_t basepage);
    GemdosReply Fdelete(GuestMemory& m, uint32_t args, uint32_t basepage);
    GemdosReply Frename(GuestMemory& m, uint32_t args, uint32_t basepage);
    GemdosReply Fattrib(GuestMemory& m, uint32_t args, uint32_t basepage);
    GemdosReply Fdatime(GuestMemory& m, uint32_t args, uint32_t basepage);
    GemdosReply Fdup(GuestMemory& m, uint32_t args, uint32_t basepage);
    GemdosReply Fforce(GuestMemory& m, uint32_t args, uint32_t basepage);
    GemdosReply Pexec(GuestMemory& m, uint32_t args, uint32_t basepage);
    bool FillDta(GuestMemory& m, uint32_t dta, const Listed& entry);

    HostFolder folder_;
    State s_{};
    int fds_[kMaxFiles];           // host descriptors of s_.files (not part of the state)
    std::vector<uint8_t> buffer_;  // transfers go through here, in pieces of its size
    std::string desktopLines_;
    std::string desktop_;  // the served start-up file while it is open
};

}  // namespace vexil::gemdos
