// Drive C: against a temporary folder: every served call with its error codes, names both
// ways, escapes out of the folder, hostile arguments, the program loader and save states.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/SaveState.h"
#include "gemdos/GemdosDrive.h"

namespace vexil::gemdos {
namespace {

namespace fs = std::filesystem;

// 1 MB of RAM; the first 2 KB (vectors and system variables) cannot be written.
class RamMemory : public GuestMemory {
public:
    std::vector<uint8_t> bytes = std::vector<uint8_t>(0x100000, 0);
    bool Read(uint32_t address, uint8_t* out, uint32_t length) const override {
        if (uint64_t{address} + length > bytes.size()) return false;
        std::copy_n(bytes.begin() + address, length, out);
        return true;
    }
    bool Write(uint32_t address, const uint8_t* in, uint32_t length) override {
        if (address < 0x800 || uint64_t{address} + length > bytes.size()) return false;
        std::copy_n(in, length, bytes.begin() + address);
        return true;
    }
};

constexpr uint32_t kBasepage = 0x10000;
constexpr uint32_t kChild = 0x11000;
constexpr uint32_t kDta = 0x20000;
constexpr uint32_t kArgs = 0x30000;
constexpr uint32_t kStrings = 0x40000;
constexpr uint32_t kBuffer = 0x50000;

std::vector<uint8_t> ReadHost(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}
void WriteHost(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

class DriveTest : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = fs::temp_directory_path() / ("vexil-gemdos-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(base_);
        root_ = base_ / "drive";
        outside_ = base_ / "outside";
        fs::create_directories(root_ / "Sub");
        fs::create_directories(outside_);
        WriteHost(root_ / "hello.txt", "Hello, ST!");
        WriteHost(root_ / "Sub" / "inner.dat", "inner");
        WriteHost(outside_ / "secret.txt", "secret");
        std::string error;
        ASSERT_TRUE(drive_.Attach(root_.string(), false, error)) << error;
        SetDrive(kBasepage, 2);
        m_.WriteLong(kBasepage + bp::kDta, kDta);
        m_.WriteLong(kChild + bp::kParent, kBasepage);
        m_.WriteLong(kChild + bp::kDta, kDta);
        SetDrive(kChild, 2);
    }
    void TearDown() override {
        drive_.Detach();
        // Read-only files must be writable to go.
        std::error_code ec;
        for (auto& e : fs::recursive_directory_iterator(base_, ec))
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(base_, ec);
    }

    void SetDrive(uint32_t basepage, uint8_t drive) { m_.Write(basepage + bp::kCurrentDrive, &drive, 1); }

    // Strings go one after another into the string area; their addresses are returned.
    uint32_t String(const std::string& s) {
        const uint32_t at = kStrings + stringsUsed_;
        m_.Write(at, reinterpret_cast<const uint8_t*>(s.c_str()), static_cast<uint32_t>(s.size() + 1));
        stringsUsed_ += static_cast<uint32_t>(s.size() + 2) & ~1u;
        return at;
    }

    // Lays out a call: the function word, then words (w) and longs (l) as the list says.
    struct Arg {
        bool isLong;
        uint32_t value;
    };
    static Arg W(uint32_t v) { return {false, v}; }
    static Arg L(uint32_t v) { return {true, v}; }
    GemdosReply Raw(uint16_t function, std::initializer_list<Arg> args, uint32_t basepage = kBasepage) {
        uint32_t at = kArgs;
        m_.WriteWord(at, function);
        at += 2;
        for (const Arg& a : args) {
            if (a.isLong)
                m_.WriteLong(at, a.value), at += 4;
            else
                m_.WriteWord(at, static_cast<uint16_t>(a.value)), at += 2;
        }
        return drive_.Call(m_, kArgs, basepage);
    }
    // A call that must be served; its D0.
    int32_t Call(uint16_t function, std::initializer_list<Arg> args, uint32_t basepage = kBasepage) {
        const GemdosReply r = Raw(function, args, basepage);
        EXPECT_EQ(r.kind, GemdosReply::Kind::kDone) << "function " << function;
        return r.d0;
    }
    int32_t Open(const std::string& path, uint16_t mode) {
        return Call(fn::kFopen, {L(String(path)), W(mode)});
    }
    int32_t Create(const std::string& path, uint16_t attribute = 0) {
        return Call(fn::kFcreate, {L(String(path)), W(attribute)});
    }
    std::string DtaName() {
        std::string name;
        m_.ReadString(kDta + 30, 13, name);
        return name;
    }
    std::vector<std::string> ListAll(const std::string& pattern, uint16_t attribute) {
        std::vector<std::string> names;
        int32_t r = Call(fn::kFsfirst, {L(String(pattern)), W(attribute)});
        while (r == 0) {
            names.push_back(DtaName());
            r = Call(fn::kFsnext, {});
        }
        EXPECT_TRUE(r == kENMFIL || (names.empty() && r == kEFILNF)) << r;
        return names;
    }

    fs::path base_, root_, outside_;
    GemdosDrive drive_;
    RamMemory m_;
    uint32_t stringsUsed_ = 0;
};

TEST_F(DriveTest, FileRoundTripReachesTheHost) {
    const int32_t h = Create("C:\\NEW.DAT");
    ASSERT_GE(h, kFirstHandle);
    const std::string text = "0123456789ABCDEF";
    m_.Write(kBuffer, reinterpret_cast<const uint8_t*>(text.data()), 16);
    EXPECT_EQ(Call(fn::kFwrite, {W(h), L(16), L(kBuffer)}), 16);
    EXPECT_EQ(Call(fn::kFseek, {L(4), W(h), W(0)}), 4);
    EXPECT_EQ(Call(fn::kFread, {W(h), L(100), L(kBuffer + 0x100)}), 12);
    EXPECT_EQ(Call(fn::kFseek, {L(static_cast<uint32_t>(-2)), W(h), W(2)}), 14);
    EXPECT_EQ(Call(fn::kFseek, {L(1), W(h), W(1)}), 15);
    EXPECT_EQ(Call(fn::kFclose, {W(h)}), 0);
    EXPECT_EQ(std::string(m_.bytes.begin() + kBuffer + 0x100, m_.bytes.begin() + kBuffer + 0x10C),
              text.substr(4));
    const auto host = ReadHost(root_ / "NEW.DAT");
    EXPECT_EQ(std::string(host.begin(), host.end()), text);
    EXPECT_EQ(drive_.OpenFiles(), 0);
}

TEST_F(DriveTest, NamesMapBothWays) {
    WriteHost(root_ / "LongFileName.text", "long");
    WriteHost(root_ / "clash.txt", "lower");
    WriteHost(root_ / "CLASH.TXT", "upper");
    const auto names = ListAll("C:\\*.*", 0);
    EXPECT_NE(std::find(names.begin(), names.end(), "LONGFILE.TEX"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "HELLO.TXT"), names.end());
    EXPECT_EQ(std::find(names.begin(), names.end(), "CLASH.TXT"), names.end());
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    // The long name opens by its cut form, and by the long form GEMDOS cuts the same way.
    for (const char* path : {"C:\\LONGFILE.TEX", "c:\\longfilename.text"}) {
        const int32_t h = Open(path, 0);
        ASSERT_GE(h, kFirstHandle) << path;
        EXPECT_EQ(Call(fn::kFread, {W(h), L(10), L(kBuffer)}), 4);
        Call(fn::kFclose, {W(h)});
    }
    // Each clashing name opens its own host file.
    std::set<std::string> contents;
    for (const auto& n : names) {
        if (n.find('~') == std::string::npos) continue;
        const int32_t h = Open("C:\\" + n, 0);
        ASSERT_GE(h, kFirstHandle) << n;
        const int32_t got = Call(fn::kFread, {W(h), L(10), L(kBuffer)});
        contents.insert(std::string(m_.bytes.begin() + kBuffer, m_.bytes.begin() + kBuffer + got));
        Call(fn::kFclose, {W(h)});
    }
    EXPECT_EQ(contents, (std::set<std::string>{"lower", "upper"}));
    // A file made from the ST takes its 8.3 name on the host.
    const int32_t h = Create("C:\\Made By ST.Document");
    ASSERT_GE(h, kFirstHandle);
    Call(fn::kFclose, {W(h)});
    EXPECT_TRUE(fs::exists(root_ / "MADE_BY_.DOC"));
}

TEST_F(DriveTest, DirectoryListingFollowsGemdos) {
    EXPECT_EQ(ListAll("C:\\SUB\\*.*", 0x10), (std::vector<std::string>{".", "..", "INNER.DAT"}));
    EXPECT_EQ(ListAll("C:\\*.*", 0), (std::vector<std::string>{"HELLO.TXT"}));
    EXPECT_EQ(ListAll("C:\\*.*", 0x10), (std::vector<std::string>{"HELLO.TXT", "SUB"}));
    const auto label = ListAll("C:\\*.*", 0x08);
    ASSERT_EQ(label.size(), 1u);
    EXPECT_EQ(label[0], "DRIVE");
    EXPECT_EQ(m_.bytes[kDta + 21], kAttrVolume);
    // The DTA of a file: attribute, size (big-endian) and name.
    ASSERT_EQ(Call(fn::kFsfirst, {L(String("C:\\HELLO.TXT")), W(0)}), 0);
    uint32_t size = 0;
    m_.ReadLong(kDta + 26, size);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(m_.bytes[kDta + 21], 0);
    EXPECT_EQ(DtaName(), "HELLO.TXT");
    EXPECT_EQ(Call(fn::kFsnext, {}), kENMFIL);
    // Fsnext with a DTA that is not ours goes to TOS.
    std::fill_n(m_.bytes.begin() + kDta, 21, 0);
    EXPECT_EQ(Raw(fn::kFsnext, {}).kind, GemdosReply::Kind::kPass);
}

TEST_F(DriveTest, CurrentFolderIsPerProcessAndInherited) {
    EXPECT_EQ(Call(fn::kDsetpath, {L(String("\\SUB"))}), 0);
    ASSERT_EQ(Call(fn::kDgetpath, {L(kBuffer), W(0)}), 0);
    std::string path;
    m_.ReadString(kBuffer, 100, path);
    EXPECT_EQ(path, "\\SUB");
    const int32_t h = Open("INNER.DAT", 0);  // relative to \SUB
    EXPECT_GE(h, kFirstHandle);
    Call(fn::kFclose, {W(h)});
    // A child starts in its parent's folder.
    ASSERT_EQ(Call(fn::kDgetpath, {L(kBuffer), W(3)}, kChild), 0);
    m_.ReadString(kBuffer, 100, path);
    EXPECT_EQ(path, "\\SUB");
    EXPECT_EQ(Call(fn::kDsetpath, {L(String(".."))}, kChild), 0);
    ASSERT_EQ(Call(fn::kDgetpath, {L(kBuffer), W(3)}, kChild), 0);
    m_.ReadString(kBuffer, 100, path);
    EXPECT_EQ(path, "");
    // Another drive's current folder is TOS's.
    EXPECT_EQ(Raw(fn::kDgetpath, {L(kBuffer), W(1)}).kind, GemdosReply::Kind::kPass);
}

TEST_F(DriveTest, DfreeStaysBelowTwoGigabytes) {
    ASSERT_EQ(Call(fn::kDfree, {L(kBuffer), W(3)}), 0);
    uint32_t v[4];
    for (int i = 0; i < 4; ++i) m_.ReadLong(kBuffer + 4 * i, v[i]);
    EXPECT_EQ(v[2], 512u);
    EXPECT_EQ(v[3], 2u);
    EXPECT_LE(v[0], v[1]);
    EXPECT_LT(uint64_t{v[1]} * v[2] * v[3], uint64_t{1} << 31);
    EXPECT_GT(v[1], 0u);
}

TEST_F(DriveTest, FdupAndFforceRedirectStandardHandles) {
    const int32_t h = Create("C:\\OUT.TXT");
    ASSERT_GE(h, kFirstHandle);
    EXPECT_EQ(Call(fn::kFforce, {W(1), W(h)}), 0);
    m_.Write(kBuffer, reinterpret_cast<const uint8_t*>("abc"), 3);
    EXPECT_EQ(Call(fn::kFwrite, {W(1), L(3), L(kBuffer)}), 3);
    const int32_t dup = Call(fn::kFdup, {W(1)});
    EXPECT_GE(dup, kFirstHandle);
    EXPECT_EQ(Call(fn::kFwrite, {W(dup), L(3), L(kBuffer)}), 3);  // the same file, the same offset
    // The child writes through the forced handle it inherits.
    EXPECT_EQ(Call(fn::kFwrite, {W(1), L(1), L(kBuffer)}, kChild), 1);
    // Pterm closes every file of the process.
    EXPECT_EQ(Raw(fn::kPterm0, {}).kind, GemdosReply::Kind::kPass);
    EXPECT_EQ(drive_.OpenFiles(), 0);
    const auto host = ReadHost(root_ / "OUT.TXT");
    EXPECT_EQ(std::string(host.begin(), host.end()), "abcabca");
    // Standard handles with nothing forced are TOS's.
    EXPECT_EQ(Raw(fn::kFwrite, {W(1), L(3), L(kBuffer)}).kind, GemdosReply::Kind::kPass);
}

TEST_F(DriveTest, FdatimeAndFattrib) {
    const int32_t h = Open("C:\\HELLO.TXT", 2);
    ASSERT_GE(h, kFirstHandle);
    m_.WriteWord(kBuffer, 10 << 11 | 30 << 5 | 5);                // 10:30:10
    m_.WriteWord(kBuffer + 2, (1995 - 1980) << 9 | 6 << 5 | 15);  // 1995-06-15
    EXPECT_EQ(Call(fn::kFdatime, {L(kBuffer), W(h), W(1)}), 0);
    m_.WriteLong(kBuffer, 0);
    EXPECT_EQ(Call(fn::kFdatime, {L(kBuffer), W(h), W(0)}), 0);
    uint16_t time = 0, date = 0;
    m_.ReadWord(kBuffer, time);
    m_.ReadWord(kBuffer + 2, date);
    EXPECT_EQ(date, (1995 - 1980) << 9 | 6 << 5 | 15);
    EXPECT_EQ(time, 10 << 11 | 30 << 5 | 5);
    Call(fn::kFclose, {W(h)});
    EXPECT_EQ(Call(fn::kFattrib, {L(String("C:\\HELLO.TXT")), W(0), W(0)}), 0);
    EXPECT_EQ(Call(fn::kFattrib, {L(String("C:\\HELLO.TXT")), W(1), W(kAttrReadOnly)}), kAttrReadOnly);
    EXPECT_EQ(Call(fn::kFattrib, {L(String("C:\\HELLO.TXT")), W(0), W(0)}), kAttrReadOnly);
    EXPECT_EQ(Open("C:\\HELLO.TXT", 1), kEACCDN);
    EXPECT_EQ(Call(fn::kFdelete, {L(String("C:\\HELLO.TXT"))}), kEACCDN);
    EXPECT_EQ(Call(fn::kFattrib, {L(String("C:\\HELLO.TXT")), W(1), W(0)}), 0);
    EXPECT_EQ(Call(fn::kFdelete, {L(String("C:\\HELLO.TXT"))}), 0);
    EXPECT_FALSE(fs::exists(root_ / "hello.txt"));
}

TEST_F(DriveTest, FoldersAreMadeRenamedAndRemoved) {
    EXPECT_EQ(Call(fn::kDcreate, {L(String("C:\\NEWDIR"))}), 0);
    EXPECT_TRUE(fs::is_directory(root_ / "NEWDIR"));
    EXPECT_EQ(Call(fn::kFrename, {W(0), L(String("C:\\HELLO.TXT")), L(String("C:\\NEWDIR\\MOVED.TXT"))}), 0);
    EXPECT_TRUE(fs::exists(root_ / "NEWDIR" / "MOVED.TXT"));
    EXPECT_EQ(Call(fn::kDdelete, {L(String("C:\\NEWDIR"))}), kEACCDN);  // not empty
    EXPECT_EQ(Call(fn::kFdelete, {L(String("C:\\NEWDIR\\MOVED.TXT"))}), 0);
    EXPECT_EQ(Call(fn::kDdelete, {L(String("C:\\NEWDIR"))}), 0);
    EXPECT_FALSE(fs::exists(root_ / "NEWDIR"));
}

// Each row: a call and the error GEMDOS gives.
struct ErrorCase {
    const char* what;
    uint16_t function;
    std::vector<std::pair<bool, std::string>> args;  // (long, value): values "s:..." are strings,
                                                     // "h" an open read-only handle, numbers else
    int32_t expected;
};

class DriveErrorTest : public DriveTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(DriveErrorTest, GivesGemdosError) {
    const ErrorCase& c = GetParam();
    const int32_t handle = Open("C:\\HELLO.TXT", 0);
    ASSERT_GE(handle, kFirstHandle);
    uint32_t at = kArgs;
    m_.WriteWord(at, c.function);
    at += 2;
    for (const auto& [isLong, text] : c.args) {
        uint32_t v = 0;
        if (text.rfind("s:", 0) == 0)
            v = String(text.substr(2));
        else if (text == "h")
            v = static_cast<uint32_t>(handle);
        else
            v = static_cast<uint32_t>(std::stoll(text, nullptr, 0));
        if (isLong)
            m_.WriteLong(at, v), at += 4;
        else
            m_.WriteWord(at, static_cast<uint16_t>(v)), at += 2;
    }
    const GemdosReply r = drive_.Call(m_, kArgs, kBasepage);
    EXPECT_EQ(r.kind, GemdosReply::Kind::kDone) << c.what;
    EXPECT_EQ(r.d0, c.expected) << c.what;
}

const std::pair<bool, std::string> Lw(const std::string& s) {
    return {true, s};
}
const std::pair<bool, std::string> Ww(const char* s) {
    return {false, s};
}

INSTANTIATE_TEST_SUITE_P(
    Calls, DriveErrorTest,
    ::testing::Values(
        ErrorCase{"Fopen of a missing file", fn::kFopen, {Lw("s:C:\\NONE.TXT"), Ww("0")}, kEFILNF},
        ErrorCase{"Fopen in a missing folder", fn::kFopen, {Lw("s:C:\\NONE\\A.TXT"), Ww("0")}, kEPTHNF},
        ErrorCase{"Fopen of a folder", fn::kFopen, {Lw("s:C:\\SUB"), Ww("0")}, kEFILNF},
        ErrorCase{"Fopen mode 3", fn::kFopen, {Lw("s:C:\\HELLO.TXT"), Ww("3")}, kEINVFN},
        ErrorCase{"Fclose of a free handle", fn::kFclose, {Ww("130")}, kEIHNDL},
        ErrorCase{"Fread of a free handle", fn::kFread, {Ww("131"), Lw("4"), Lw("0x50000")}, kEIHNDL},
        ErrorCase{"Fwrite to a read-only handle", fn::kFwrite, {Ww("h"), Lw("4"), Lw("0x50000")}, kEACCDN},
        ErrorCase{"Fread of a negative count", fn::kFread, {Ww("h"), Lw("-4"), Lw("0x50000")}, kERANGE},
        ErrorCase{"Fread to outside memory", fn::kFread, {Ww("h"), Lw("8"), Lw("0xFFFFFFF0")}, kEIMBA},
        ErrorCase{"Fread over the vectors", fn::kFread, {Ww("h"), Lw("8"), Lw("0x100")}, kEIMBA},
        ErrorCase{"Fseek past the end", fn::kFseek, {Lw("11"), Ww("h"), Ww("0")}, kERANGE},
        ErrorCase{"Fseek before the start", fn::kFseek, {Lw("-1"), Ww("h"), Ww("1")}, kERANGE},
        ErrorCase{"Fseek mode 3", fn::kFseek, {Lw("0"), Ww("h"), Ww("3")}, kEINVFN},
        ErrorCase{"Fdelete of a folder", fn::kFdelete, {Lw("s:C:\\SUB")}, kEFILNF},
        ErrorCase{"Fdelete of a missing file", fn::kFdelete, {Lw("s:C:\\NONE")}, kEFILNF},
        ErrorCase{"Fattrib of a folder", fn::kFattrib, {Lw("s:C:\\SUB"), Ww("0"), Ww("0")}, kEFILNF},
        ErrorCase{"Fattrib setting hidden", fn::kFattrib, {Lw("s:C:\\HELLO.TXT"), Ww("1"), Ww("2")}, kEACCDN},
        ErrorCase{"Frename to another drive",
                  fn::kFrename,
                  {Ww("0"), Lw("s:C:\\HELLO.TXT"), Lw("s:A:\\X.TXT")},
                  kENSAME},
        ErrorCase{"Frename onto a file",
                  fn::kFrename,
                  {Ww("0"), Lw("s:C:\\HELLO.TXT"), Lw("s:C:\\SUB\\INNER.DAT")},
                  kEACCDN},
        ErrorCase{
            "Frename of a missing file", fn::kFrename, {Ww("0"), Lw("s:C:\\NONE"), Lw("s:C:\\X")}, kEFILNF},
        ErrorCase{"Dsetpath to a missing folder", fn::kDsetpath, {Lw("s:C:\\NONE")}, kEPTHNF},
        ErrorCase{"Dsetpath to a file", fn::kDsetpath, {Lw("s:C:\\HELLO.TXT")}, kEPTHNF},
        ErrorCase{"Dcreate of an existing name", fn::kDcreate, {Lw("s:C:\\SUB")}, kEACCDN},
        ErrorCase{"Ddelete of a missing folder", fn::kDdelete, {Lw("s:C:\\NONE")}, kEPTHNF},
        ErrorCase{"Fsfirst with no match", fn::kFsfirst, {Lw("s:C:\\*.XYZ"), Ww("0")}, kEFILNF},
        ErrorCase{"Fsfirst in a missing folder", fn::kFsfirst, {Lw("s:C:\\NONE\\*.*"), Ww("0")}, kEPTHNF},
        ErrorCase{"Fcreate of a volume", fn::kFcreate, {Lw("s:C:\\LABEL"), Ww("8")}, kEACCDN},
        ErrorCase{"Fcreate over a folder", fn::kFcreate, {Lw("s:C:\\SUB"), Ww("0")}, kEACCDN},
        ErrorCase{
            "Pexec of a text file", fn::kPexec, {Ww("0"), Lw("s:C:\\HELLO.TXT"), Lw("0"), Lw("0")}, kEPLFMT},
        ErrorCase{"Pexec of a missing file",
                  fn::kPexec,
                  {Ww("3"), Lw("s:C:\\NONE.PRG"), Lw("0"), Lw("0")},
                  kEFILNF},
        ErrorCase{"Dfree into the vectors", fn::kDfree, {Lw("0x10"), Ww("3")}, kEIMBA},
        ErrorCase{"a name holding '/'", fn::kFopen, {Lw("s:C:\\A/B"), Ww("0")}, kEFILNF},
        ErrorCase{"a path too long for GEMDOS",
                  fn::kFopen,
                  {Lw("s:C:\\" + std::string(300, 'A')), Ww("0")},
                  kEPTHNF}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) {
        std::string name;
        for (const char* p = info.param.what; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST_F(DriveTest, HandlesRunOutWithEnhndl) {
    int32_t last = 0;
    for (int i = 0; i <= kMaxHandles && last >= 0; ++i) last = Open("C:\\HELLO.TXT", 0);
    EXPECT_EQ(last, kENHNDL);
}

TEST_F(DriveTest, CallsForOtherDrivesAndHandlesGoToTos) {
    SetDrive(kBasepage, 0);
    EXPECT_EQ(Raw(fn::kFopen, {L(String("HELLO.TXT")), W(0)}).kind, GemdosReply::Kind::kPass);
    EXPECT_EQ(Raw(fn::kFopen, {L(String("A:\\HELLO.TXT")), W(0)}).kind, GemdosReply::Kind::kPass);
    EXPECT_EQ(Raw(fn::kFread, {W(6), L(4), L(kBuffer)}).kind, GemdosReply::Kind::kPass);
    EXPECT_EQ(Raw(fn::kDfree, {L(kBuffer), W(0)}).kind, GemdosReply::Kind::kPass);
    EXPECT_EQ(Raw(0x0E, {W(2)}).kind, GemdosReply::Kind::kPass);     // Dsetdrv stays TOS's
    EXPECT_EQ(Raw(0x1A, {L(kDta)}).kind, GemdosReply::Kind::kPass);  // so does Fsetdta
    // With the current drive C:, a path without a letter is ours.
    SetDrive(kBasepage, 2);
    const int32_t h = Call(fn::kFopen, {L(String("HELLO.TXT")), W(0)});
    EXPECT_GE(h, kFirstHandle);
}

// Every way out of the folder is refused, and nothing appears outside it.
struct EscapeCase {
    const char* what;
    uint16_t function;
    const char* path;
};
class EscapeTest : public DriveTest, public ::testing::WithParamInterface<EscapeCase> {};

TEST_P(EscapeTest, IsRefused) {
    fs::create_directory_symlink(outside_, root_ / "linkout");
    fs::create_symlink(outside_ / "secret.txt", root_ / "secret.txt");
    const EscapeCase& c = GetParam();
    GemdosReply r;
    if (c.function == fn::kFrename)
        r = Raw(fn::kFrename, {W(0), L(String("C:\\HELLO.TXT")), L(String(c.path))});
    else if (c.function == fn::kFopen || c.function == fn::kFcreate || c.function == fn::kFattrib)
        r = Raw(c.function, {L(String(c.path)), W(c.function == fn::kFopen ? 2 : 0), W(0)});
    else
        r = Raw(c.function, {L(String(c.path)), W(0)});
    EXPECT_EQ(r.kind, GemdosReply::Kind::kDone) << c.what;
    EXPECT_TRUE(r.d0 == kEACCDN || r.d0 == kEPTHNF || r.d0 == kEFILNF) << c.what << ": " << r.d0;
    EXPECT_NE(r.d0, 0) << c.what;
    std::vector<std::string> outside;
    for (auto& e : fs::directory_iterator(outside_)) outside.push_back(e.path().filename().string());
    EXPECT_EQ(outside, std::vector<std::string>{"secret.txt"}) << c.what;
    const auto secret = ReadHost(outside_ / "secret.txt");
    EXPECT_EQ(std::string(secret.begin(), secret.end()), "secret") << c.what;
    EXPECT_FALSE(fs::exists(base_ / "X.TXT")) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Escapes, EscapeTest,
    ::testing::Values(EscapeCase{"create above the root", fn::kFcreate, "C:\\..\\X.TXT"},
                      EscapeCase{"create through a sub folder", fn::kFcreate, "C:\\SUB\\..\\..\\X.TXT"},
                      EscapeCase{"create through a link", fn::kFcreate, "C:\\LINKOUT\\X.TXT"},
                      EscapeCase{"open a linked file", fn::kFopen, "C:\\SECRET.TXT"},
                      EscapeCase{"open through a link", fn::kFopen, "C:\\LINKOUT\\SECRET.TXT"},
                      EscapeCase{"create over a linked file", fn::kFcreate, "C:\\SECRET.TXT"},
                      EscapeCase{"delete a linked file", fn::kFdelete, "C:\\LINKOUT\\SECRET.TXT"},
                      EscapeCase{"make a folder above", fn::kDcreate, "C:\\..\\X.TXT"},
                      EscapeCase{"make a folder through a link", fn::kDcreate, "C:\\LINKOUT\\X.TXT"},
                      EscapeCase{"rename out", fn::kFrename, "C:\\..\\X.TXT"},
                      EscapeCase{"rename through a link", fn::kFrename, "C:\\LINKOUT\\X.TXT"},
                      EscapeCase{"an absolute host path", fn::kFopen, "C:\\/etc/passwd"},
                      EscapeCase{"set the folder above", fn::kDsetpath, "C:\\.."},
                      EscapeCase{"set the folder to a link", fn::kDsetpath, "C:\\LINKOUT"},
                      EscapeCase{"search through a link", fn::kFsfirst, "C:\\LINKOUT\\*.*"}),
    [](const ::testing::TestParamInfo<EscapeCase>& info) {
        std::string name;
        for (const char* p = info.param.what; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST_F(DriveTest, ReadOnlyDriveRefusesEveryWrite) {
    std::string error;
    ASSERT_TRUE(drive_.Attach(root_.string(), true, error));
    EXPECT_EQ(Create("C:\\NEW.TXT"), kEACCDN);
    EXPECT_EQ(Open("C:\\HELLO.TXT", 1), kEACCDN);
    EXPECT_EQ(Call(fn::kDcreate, {L(String("C:\\NEWDIR"))}), kEACCDN);
    EXPECT_EQ(Call(fn::kFdelete, {L(String("C:\\HELLO.TXT"))}), kEACCDN);
    EXPECT_EQ(Call(fn::kFrename, {W(0), L(String("C:\\HELLO.TXT")), L(String("C:\\X.TXT"))}), kEACCDN);
    EXPECT_EQ(Call(fn::kFattrib, {L(String("C:\\HELLO.TXT")), W(1), W(1)}), kEACCDN);
    EXPECT_GE(Open("C:\\HELLO.TXT", 0), kFirstHandle);
    EXPECT_FALSE(fs::exists(root_ / "NEW.TXT"));
    EXPECT_TRUE(fs::exists(root_ / "hello.txt"));
}

TEST_F(DriveTest, AttachRefusesWhatIsNoFolder) {
    std::string error;
    EXPECT_FALSE(drive_.Attach((root_ / "hello.txt").string(), false, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(drive_.Attach((base_ / "none").string(), false, error));
    EXPECT_EQ(Raw(fn::kFopen, {L(String("C:\\HELLO.TXT")), W(0)}).kind, GemdosReply::Kind::kPass);
}

// ---- the program loader ----------------------------------------------------------------------

void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (24 - 8 * i));
}

// A program of `text` bytes with longs to relocate at `fixups`; BSS of `bss` bytes.
std::vector<uint8_t> Program(uint32_t text, uint32_t bss, const std::vector<uint32_t>& fixups,
                             uint32_t flags = 0) {
    std::vector<uint8_t> p(0x1C + text, 0);
    p[0] = 0x60, p[1] = 0x1A;
    Put32(p, 2, text);
    Put32(p, 10, bss);
    Put32(p, 22, flags);
    for (uint32_t i = 0; i < text; i += 4) Put32(p, 0x1C + i, i);  // each long: its own offset
    if (fixups.empty()) {
        p.insert(p.end(), 4, 0);
        return p;
    }
    p.resize(p.size() + 4);
    Put32(p, p.size() - 4, fixups[0]);
    for (size_t i = 1; i < fixups.size(); ++i) {
        uint32_t step = fixups[i] - fixups[i - 1];
        for (; step > 254; step -= 254) p.push_back(1);
        p.push_back(static_cast<uint8_t>(step));
    }
    p.push_back(0);
    return p;
}

class LoaderTest : public DriveTest {
protected:
    static constexpr uint32_t kLoadBase = 0x60000;
    int32_t Load(const std::vector<uint8_t>& program, uint32_t tpaBytes = 0x10000) {
        std::ofstream(root_ / "PROG.PRG", std::ios::binary)
            .write(reinterpret_cast<const char*>(program.data()),
                   static_cast<std::streamsize>(program.size()));
        const GemdosReply r = Raw(fn::kPexec, {W(3), L(String("C:\\PROG.PRG")), L(0), L(0)});
        if (r.kind == GemdosReply::Kind::kDone) return r.d0;
        EXPECT_EQ(r.kind, GemdosReply::Kind::kLoad);
        EXPECT_EQ(r.mode, 3);
        m_.WriteLong(kLoadBase + bp::kLowTpa, kLoadBase);
        m_.WriteLong(kLoadBase + bp::kHighTpa, kLoadBase + tpaBytes);
        std::fill(m_.bytes.begin() + kLoadBase + 0x100, m_.bytes.begin() + kLoadBase + tpaBytes, 0xEE);
        return drive_.LoadProgram(m_, kLoadBase);
    }
    uint32_t Long(uint32_t at) {
        uint32_t v = 0;
        m_.ReadLong(at, v);
        return v;
    }
};

TEST_F(LoaderTest, RelocatesFillsTheBasepageAndClearsTheTpa) {
    // The first offset is never 0: a first long of 0 says there is no table.
    const std::vector<uint32_t> fixups = {4, 12, 12 + 600, 12 + 600 + 256};
    ASSERT_EQ(Load(Program(0x400, 0x80, fixups)), 0);
    const uint32_t text = kLoadBase + 0x100;
    for (uint32_t at = 0; at < 0x400; at += 4) {
        const bool fixed = std::find(fixups.begin(), fixups.end(), at) != fixups.end();
        EXPECT_EQ(Long(text + at), fixed ? at + text : at) << at;
    }
    EXPECT_EQ(Long(kLoadBase + bp::kTextBase), text);
    EXPECT_EQ(Long(kLoadBase + bp::kTextLength), 0x400u);
    EXPECT_EQ(Long(kLoadBase + bp::kBssBase), text + 0x400);
    EXPECT_EQ(Long(kLoadBase + bp::kBssLength), 0x80u);
    // Without the fast-load flag the whole rest of the TPA is cleared.
    EXPECT_EQ(m_.bytes[kLoadBase + 0xFFFF], 0);
    ASSERT_EQ(Load(Program(0x40, 0x80, {}, 1)), 0);
    EXPECT_EQ(m_.bytes[text + 0x40 + 0x7F], 0);
    EXPECT_EQ(m_.bytes[text + 0x40 + 0x80], 0xEE);
}

TEST_F(LoaderTest, BadProgramsAreRefused) {
    auto outOfRange = Program(0x40, 0, {0x3E});  // the long would end past the text
    EXPECT_EQ(Load(outOfRange), kEPLFMT);
    auto odd = Program(0x40, 0, {3});
    EXPECT_EQ(Load(odd), kEPLFMT);
    auto cut = Program(0x40, 0, {});
    cut.resize(0x30);  // shorter than its text
    EXPECT_EQ(Load(cut), kEPLFMT);
    auto magic = Program(0x40, 0, {});
    magic[1] = 0x1B;
    EXPECT_EQ(Load(magic), kEPLFMT);
    EXPECT_EQ(Load(Program(0x40, 0x100000, {})), kENSMEM);
    auto huge = Program(0x40, 0, {});
    Put32(huge, 2, 0xFFFFFFF0);  // a text length that wraps
    EXPECT_EQ(Load(huge), kEPLFMT);
}

// ---- save states -----------------------------------------------------------------------------

TEST_F(DriveTest, SaveStateRestoresOpenFilesAndSearches) {
    const int32_t h = Open("C:\\HELLO.TXT", 0);
    ASSERT_EQ(Call(fn::kFseek, {L(7), W(h), W(0)}), 7);
    ASSERT_EQ(Call(fn::kDsetpath, {L(String("\\SUB"))}), 0);
    ASSERT_EQ(Call(fn::kFsfirst, {L(String("C:\\*.*")), W(0x10)}), 0);
    StateWriter out;
    out.BeginSection("TEST");
    drive_.Save(out);
    const std::vector<uint8_t> file = out.Finish();
    drive_.Reset();
    EXPECT_EQ(drive_.OpenFiles(), 0);
    StateReader in;
    std::string error;
    ASSERT_TRUE(in.Open(file, error));
    ASSERT_TRUE(in.BeginSection("TEST"));
    ASSERT_TRUE(drive_.Load(in, true, error)) << error;
    EXPECT_EQ(Call(fn::kFread, {W(h), L(10), L(kBuffer)}), 3);
    EXPECT_EQ(std::string(m_.bytes.begin() + kBuffer, m_.bytes.begin() + kBuffer + 3), "ST!");
    EXPECT_EQ(Call(fn::kFsnext, {}), 0);  // the search goes on
    EXPECT_EQ(DtaName(), "SUB");
    ASSERT_EQ(Call(fn::kDgetpath, {L(kBuffer), W(3)}), 0);
    std::string path;
    m_.ReadString(kBuffer, 100, path);
    EXPECT_EQ(path, "\\SUB");

    // The file gone: the load is refused with the reason, and nothing changes.
    fs::remove(root_ / "hello.txt");
    StateReader again;
    ASSERT_TRUE(again.Open(file, error));
    ASSERT_TRUE(again.BeginSection("TEST"));
    error.clear();
    EXPECT_FALSE(drive_.Load(again, false, error));
    EXPECT_NE(error.find("hello.txt"), std::string::npos) << error;
    (void)h;
}

TEST_F(DriveTest, DamagedStatesAreRefused) {
    StateWriter out;
    out.BeginSection("TEST");
    drive_.Save(out);
    std::vector<uint8_t> file = out.Finish();
    // Random bytes in the section (the checksum made good again by writing a new file).
    StateReader in;
    std::string error;
    ASSERT_TRUE(in.Open(file, error));
    ASSERT_TRUE(in.BeginSection("TEST"));
    std::vector<uint8_t> sections;
    ASSERT_TRUE(UnpackState(file, 1 << 20, sections, error)) << error;
    const size_t length = sections.size() - 8;  // the section's data, after its tag and length
    std::vector<uint8_t> garbage(length);
    uint32_t seed = 12345;
    for (int round = 0; round < 20; ++round) {
        for (auto& b : garbage) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
        StateWriter w;
        w.BeginSection("TEST");
        w.PutBytes(garbage.data(), garbage.size());
        const auto bad = w.Finish();
        StateReader r;
        ASSERT_TRUE(r.Open(bad, error));
        ASSERT_TRUE(r.BeginSection("TEST"));
        EXPECT_FALSE(drive_.Load(r, true, error));
    }
    // Cut short.
    StateWriter w;
    w.BeginSection("TEST");
    w.PutBytes(garbage.data(), 100);
    const auto cut = w.Finish();
    StateReader r;
    ASSERT_TRUE(r.Open(cut, error));
    ASSERT_TRUE(r.BeginSection("TEST"));
    EXPECT_FALSE(drive_.Load(r, true, error));
    EXPECT_EQ(drive_.OpenFiles(), 0);
}

}  // namespace
}  // namespace vexil::gemdos
