// The options and disk pages through their logic, on an application driven by the headless
// back end: ROM recognition and the ROM list, the settings each control changes, the folder
// tree with its zip archives, the image description, and drive A.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>

#include "../floppy/FloppyTestSupport.h"
#include "app/App.h"
#include "host/HeadlessHost.h"
#include "ui/DiskPage.h"
#include "ui/HostFolders.h"
#include "ui/OptionsPage.h"

namespace vexil {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

// A raw image whose boot sector gives its geometry.
Bytes RawImage(uint16_t sectors, uint16_t perTrack, uint16_t sides) {
    Bytes b(size_t{sectors} * 512, 0);
    b[19] = static_cast<uint8_t>(sectors), b[20] = static_cast<uint8_t>(sectors >> 8);
    b[24] = static_cast<uint8_t>(perTrack);
    b[26] = static_cast<uint8_t>(sides);
    return b;
}

// A TOS header: version, base, date (BCD month, day, year), configuration word.
Bytes TosHeader(uint8_t major, uint8_t minor, uint32_t base, uint32_t date, uint16_t config) {
    Bytes b(256, 0);
    b[0] = 0x60, b[1] = 0x2E, b[2] = major, b[3] = minor;
    for (int i = 0; i < 4; ++i) b[8 + i] = static_cast<uint8_t>(base >> (24 - 8 * i));
    for (int i = 0; i < 4; ++i) b[24 + i] = static_cast<uint8_t>(date >> (24 - 8 * i));
    b[28] = static_cast<uint8_t>(config >> 8), b[29] = static_cast<uint8_t>(config);
    return b;
}

Bytes Cartridge(uint32_t magic) {
    Bytes b = test::RandomBytes(4096, magic);
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(magic >> (24 - 8 * i));
    return b;
}

class PagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vexil-pages-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        options_.configPath = (dir_ / "vexil.ini").string();
        options_.dataDirectory = (dir_ / "data").string();
        options_.bundledRoms = {VEXIL_EMUTOS};
        std::ofstream(options_.configPath) << "[Graphics]\nbAskFullscreen = 0\n";
    }
    void TearDown() override {
        app_.reset();
        fs::remove_all(dir_);
    }
    App& Start() {
        app_ = std::make_unique<App>(options_, host_.AllDevices(), nullptr);
        EXPECT_EQ(app_->StartUp(), -1);
        return *app_;
    }
    // The page shown after picking its item on the bar.
    OptionsPage& Options() {
        host_.QueuePick(kItemOptions);
        app_->Turn();
        return *app_->Bar().pages.options;
    }
    DiskPage& Disks() {
        host_.QueuePick(kItemOptions);
        app_->Turn();
        host_.QueuePick(kItemDisks);
        app_->Turn();
        return *app_->Bar().pages.disks;
    }
    std::string Write(const std::string& name, const Bytes& data) {
        const fs::path path = dir_ / name;
        fs::create_directories(path.parent_path());
        test::WriteFile(path.string(), data);
        return path.string();
    }
    // A zip archive made by zip from members in a folder of their own.
    std::string Zip(const std::string& name, const std::vector<std::pair<std::string, Bytes>>& members) {
        const fs::path staging = dir_ / ("staging-" + name);
        for (const auto& [member, data] : members) {
            fs::create_directories((staging / member).parent_path());
            test::WriteFile((staging / member).string(), data);
            EXPECT_TRUE(test::Run("cd '" + staging.string() + "' && zip -q -X '" +
                                  (dir_ / "tree" / name).string() + "' '" + member + "'"));
        }
        fs::remove_all(staging);
        return (dir_ / "tree" / name).string();
    }
    // Lists the node first, as opening it in the tree does.
    int Child(DiskPage& page, int node, const std::string& name) {
        page.Expand(node);
        for (int child : page.Nodes()[static_cast<size_t>(node)].children) {
            if (page.Nodes()[static_cast<size_t>(child)].name == name) return child;
        }
        return -1;
    }
    std::vector<std::string> ChildNames(DiskPage& page, int node) {
        page.Expand(node);
        std::vector<std::string> names;
        for (int child : page.Nodes()[static_cast<size_t>(node)].children)
            names.push_back(page.Nodes()[static_cast<size_t>(child)].name);
        return names;
    }
    // The first long of the cartridge area (kept in host word order).
    uint32_t CartridgeLong() {
        const uint8_t* c = app_->CurrentMachine()->Memory().Cartridge();
        return uint32_t(c[1]) << 24 | uint32_t(c[0]) << 16 | uint32_t(c[3]) << 8 | c[2];
    }
    int ImageIndex(const DiskPage& page, const std::string& name) {
        const auto& images = page.Images();
        const auto it = std::find(images.begin(), images.end(), name);
        return it == images.end() ? -1 : static_cast<int>(it - images.begin());
    }

    fs::path dir_;
    AppOptions options_;
    host::HeadlessHost host_;
    std::unique_ptr<App> app_;
};

// --- The options page and the ROM list ---

struct RomCase {
    const char* name;
    std::function<Bytes()> bytes;
    const char* type;  // "" when refused
};

class RomRecognition : public PagesTest, public ::testing::WithParamInterface<RomCase> {};

TEST_P(RomRecognition, AddsImagesByTheirFirstBytesAndRefusesTheRestWithAMessage) {
    Start();
    OptionsPage& page = Options();
    const std::string path = Write(GetParam().name, GetParam().bytes());
    page.Add(path);
    const std::vector<OptionsPage::RomRow> rows = page.Rows();
    ASSERT_FALSE(page.notices.empty());
    if (*GetParam().type == '\0') {
        EXPECT_TRUE(rows.empty());
        EXPECT_EQ(page.notices.front().caption, "Note");
        EXPECT_NE(page.notices.front().text.find("not a TOS ROM or cartridge"), std::string::npos);
        return;
    }
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].type, GetParam().type);
    EXPECT_EQ(rows[0].file, GetParam().name);
    EXPECT_EQ(rows[0].active, "");
    EXPECT_EQ(page.notices.back().text,
              "Don't forget to activate the new ROM by clicking on the Set-Active button");
}

INSTANTIATE_TEST_SUITE_P(
    Images, RomRecognition,
    ::testing::Values(RomCase{"emutos.img", [] { return test::ReadFile(VEXIL_EMUTOS); }, "TOS ROM"},
                      RomCase{"cut64.img",
                              [] {
                                  Bytes b = test::ReadFile(VEXIL_EMUTOS);
                                  b.resize(64);
                                  return b;
                              },
                              "TOS ROM"},
                      RomCase{"cut1.img", [] { return Bytes{0x60}; }, ""},
                      RomCase{"empty.img", [] { return Bytes{}; }, ""},
                      RomCase{"diag.img", [] { return Cartridge(0xFA52235F); }, "Diagnostic"},
                      RomCase{"app.img", [] { return Cartridge(0xABCDEF42); }, "Application"},
                      RomCase{"cut-cart.img",
                              [] {
                                  return Bytes{0xAB, 0xCD, 0xEF};
                              },
                              ""},
                      RomCase{"random.img", [] { return test::RandomBytes(65536, 7); }, ""}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace_if(
            name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
            '_');
        return name;
    });

TEST_F(PagesTest, RomRowsShowTheHeaderAsTheMachineReadsIt) {
    Start();
    OptionsPage& page = Options();
    page.Add(Write("tos104.img", TosHeader(0x01, 0x04, 0xFC0000, 0x11201985, 0x0005)));
    page.Add(VEXIL_EMUTOS);
    page.Add(Write("cart.img", Cartridge(0xABCDEF42)));
    page.Add(Write("odd.img", TosHeader(0x01, 0x00, 0xFC0000, 0x01011990, 0x0041)));
    const std::vector<OptionsPage::RomRow> rows = page.Rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[3].version, "1.4");
    EXPECT_EQ(rows[3].date, "20/11/1985");
    EXPECT_EQ(rows[3].base, "$FC0000");
    EXPECT_EQ(rows[3].country, "France (PAL)");
    EXPECT_EQ(rows[2].file, "etos256us.img");
    EXPECT_EQ(rows[2].base, "$E00000");
    EXPECT_EQ(rows[2].country, "USA (NTSC)");
    EXPECT_EQ(rows[1].base, "$FA0000");
    EXPECT_EQ(rows[1].version, "");
    EXPECT_EQ(rows[0].country, "Country 32 (PAL)");
}

TEST_F(PagesTest, ASecondAddOfOneFileIsRefusedAndChangesNothing) {
    Start();
    OptionsPage& page = Options();
    const std::string path = Write("tos.img", TosHeader(1, 0, 0xFC0000, 0, 0));
    page.Add(path);
    ASSERT_EQ(page.notices.size(), 1u);  // TOS 1.00: only the reminder
    page.notices.clear();
    page.Add(path);
    EXPECT_EQ(page.Rows().size(), 1u);
    ASSERT_EQ(page.notices.size(), 1u);
    EXPECT_EQ(page.notices.front().text, "This image is already in the ROM list.");
}

TEST_F(PagesTest, TheRomListAndItsActiveEntriesComeBackFromTheSettings) {
    Start();
    OptionsPage& page = Options();
    const std::string cart = Write("cart.img", Cartridge(0xFA52235F));
    page.Add(Write("other.img", TosHeader(1, 4, 0xFC0000, 0, 0)));
    page.Add(cart);
    page.Add(VEXIL_EMUTOS);
    page.SelectRow(0);
    page.SetActive();  // EmuTOS
    page.SelectRow(1);
    page.SetActive();  // the cartridge
    const std::vector<OptionsPage::RomRow> before = page.Rows();
    app_->ShutDown(true);
    app_.reset();

    Start();
    const std::vector<OptionsPage::RomRow> after = Options().Rows();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(after[i].file, before[i].file) << i;
        EXPECT_EQ(after[i].active, before[i].active) << i;
    }
    EXPECT_EQ(after[0].active, "Yes");
    EXPECT_EQ(after[1].active, "Yes");
    EXPECT_EQ(after[2].active, "");
    EXPECT_TRUE(app_->RomLoaded());
    EXPECT_EQ(CartridgeLong(), 0xFA52235Fu);  // the cartridge went in at start-up
}

TEST_F(PagesTest, ActivatingACartridgeLoadsItBeforeTheResetAndActivatingItAgainClearsIt) {
    Start();
    OptionsPage& page = Options();
    page.Add(Write("cart.img", Cartridge(0xABCDEF42)));
    page.SelectRow(0);
    const int64_t resets = app_->ColdResets();
    page.SetActive();
    EXPECT_EQ(app_->ColdResets(), resets + 1);
    EXPECT_EQ(CartridgeLong(), 0xABCDEF42u);
    EXPECT_EQ(page.Rows()[0].active, "Yes");
    page.SetActive();  // a cartridge toggles
    EXPECT_EQ(CartridgeLong(), 0xFFFFFFFFu);
    EXPECT_EQ(page.Rows()[0].active, "");
}

TEST_F(PagesTest, SetActiveWithoutASelectionAsksForOneAndDeleteKeepsWhatIsLoaded) {
    Start();
    OptionsPage& page = Options();
    page.Add(VEXIL_EMUTOS);
    page.notices.clear();
    page.SelectRow(-1);
    page.SetActive();
    ASSERT_EQ(page.notices.size(), 1u);
    EXPECT_EQ(page.notices.front().text,
              "Please select a line in the ROM-List before clicking on the SET-Active button.");
    page.SelectRow(0);
    page.SetActive();
    page.Delete();
    EXPECT_TRUE(page.Rows().empty());
    EXPECT_TRUE(app_->RomLoaded());
}

TEST_F(PagesTest, SettingsTakeEffectAsThePageSays) {
    Start();
    OptionsPage& page = Options();
    page.SetHostChoices({{"one", "two"}, {{50, 60}, {75}}, false, true, true});
    // At once.
    page.Choose(OptionsPage::kDiskSpeed, 1);
    EXPECT_TRUE(app_->CurrentMachine()->Settings().FastDisk);
    page.SetChecked(OptionsPage::kYm, false);
    EXPECT_FALSE(app_->CurrentMachine()->Settings().YMSound);
    EXPECT_TRUE(page.notices.empty());
    // At the next cold reset.
    EXPECT_FALSE(page.BoxEnabled(OptionsPage::kDac));
    page.Choose(OptionsPage::kModel, 1);
    EXPECT_TRUE(page.BoxEnabled(OptionsPage::kDac));
    page.Choose(OptionsPage::kRam, 4);
    EXPECT_EQ(app_->Config().RAMSize, 3u);  // 4 MB
    page.Choose(OptionsPage::kRam, 3);
    EXPECT_EQ(app_->Config().RAMSize, 4u);  // 2.5 MB
    page.Choose(OptionsPage::kRam, 0);
    EXPECT_EQ(app_->Config().RAMSize, 0u);
    EXPECT_EQ(app_->CurrentMachine()->Settings().Machine, 0u);
    app_->ResetMachine(true);
    EXPECT_EQ(app_->CurrentMachine()->Settings().Machine, 1u);
    EXPECT_EQ(app_->CurrentMachine()->Settings().RAMSize, 0u);
    EXPECT_TRUE(app_->CurrentMachine()->Settings().FastDisk);  // carried into the new machine
    // At the next start, with the message for those the page names.
    page.SetChecked(OptionsPage::kFullscreen, true);
    page.ChooseAdapter(1);
    EXPECT_EQ(app_->Config().VideoRefresh, 75u);  // the one rate the new adapter offers
    ASSERT_EQ(page.notices.size(), 2u);
    EXPECT_EQ(page.notices.front().caption, "Vexil Message");
    EXPECT_EQ(page.notices.front().text, "You must restart Vexil to validate that change.");
    // Frame skip: only in fullscreen with the sync, within 0-9.
    EXPECT_FALSE(page.FrameSkipEnabled());
    page.SetChecked(OptionsPage::kVblSync, true);
    for (int i = 0; i < 12; ++i) page.StepFrameSkip(1);
    EXPECT_EQ(page.FrameSkip(), 9u);
    // The joystick box is there only with a joystick.
    page.SetChecked(OptionsPage::kJoystick, true);
    EXPECT_EQ(app_->Config().bUseJoystick, 0u);
}

// --- The disk page ---

class DiskPageTest : public PagesTest {
protected:
    void SetUp() override {
        PagesTest::SetUp();
        raw_ = Write("tree/game.st", RawImage(720, 9, 1));
        Write("tree/DEMO.MSA", Bytes(100, 0x55));  // an MSA name, not an MSA image
        Write("tree/notes.txt", Bytes(10, 'x'));
        Write("tree/.hidden/x.st", RawImage(720, 9, 1));
        Write("tree/subway/x.st", RawImage(720, 9, 1));
        Zip("disks.zip", {{"ONE.ST", RawImage(1440, 9, 2)},
                          {"sub/INNER.ST", RawImage(720, 9, 1)},
                          {"readme.txt", Bytes(5, 'r')}});
        const std::string good =
            Zip("two.zip", {{"A.ST", RawImage(720, 9, 1)}, {"B.ST", RawImage(720, 9, 1)}});
        Bytes cut = test::ReadFile(good);
        cut.resize(cut.size() - 10);  // into the end record
        Write("tree/cut.zip", cut);
        Bytes broken = test::ReadFile(good);
        const Bytes signature = {'P', 'K', 3, 4};
        const auto second = std::search(broken.begin() + 4, broken.end(), signature.begin(), signature.end());
        ASSERT_NE(second, broken.end());
        second[2] = 9;  // the second local header is no longer one
        Write("tree/broken.zip", broken);
        Write("tree/fake.zip", test::RandomBytes(3000, 3));
        tree_ = (dir_ / "tree").string() + "/";
    }
    DiskPage& OpenAt(const std::string& directory) {
        Start();
        app_->Config().Directory = directory;
        return Disks();
    }
    std::string raw_, tree_;
};

TEST_F(DiskPageTest, TheSavedFolderIsOpenedAndListsItsImagesAndArchives) {
    DiskPage& page = OpenAt(tree_);
    ASSERT_GE(page.SelectedNode(), 0);
    EXPECT_EQ(page.Nodes()[static_cast<size_t>(page.SelectedNode())].path, tree_);
    EXPECT_EQ(page.Images(), (std::vector<std::string>{"DEMO.MSA", "game.st"}));
    EXPECT_EQ(
        ChildNames(page, page.SelectedNode()),
        (std::vector<std::string>{"subway", "broken.zip", "cut.zip", "disks.zip", "fake.zip", "two.zip"}));
}

TEST_F(DiskPageTest, ArchivesListTheirTopImagesAndDamagedOnesSaySo) {
    struct Case {
        const char* archive;
        std::vector<std::string> images;
        bool problem;
    };
    const Case cases[] = {
        {"disks.zip", {"ONE.ST"}, false},  // sub/INNER.ST cannot be opened by its path: left out
        {"two.zip", {"A.ST", "B.ST"}, false}, {"cut.zip", {"A.ST", "B.ST"}, true},
        {"broken.zip", {"A.ST"}, true},       {"fake.zip", {}, true},
    };
    DiskPage& page = OpenAt(tree_);
    const int folder = page.SelectedNode();
    for (const Case& c : cases) {
        const int node = Child(page, folder, c.archive);
        ASSERT_GE(node, 0) << c.archive;
        page.Expand(node);
        EXPECT_FALSE(page.Nodes()[static_cast<size_t>(node)].hasChildren) << c.archive;
        page.Select(node);
        EXPECT_EQ(page.Images(), c.images) << c.archive;
        EXPECT_EQ(!page.ListProblem().empty(), c.problem) << c.archive << ": " << page.ListProblem();
        EXPECT_EQ(app_->Config().Directory, tree_ + c.archive + "/");
    }
    // An image of the archive is described and goes into the drive through its path.
    page.Select(Child(page, folder, "disks.zip"));
    page.SelectImage(0);
    EXPECT_EQ(page.Described().tracks, "80");
    EXPECT_EQ(page.Described().sides, "2");
    EXPECT_TRUE(page.DriveAHoldsImage());
    EXPECT_EQ(page.DriveAName(), "ONE.ST");
}

TEST_F(DiskPageTest, ASelectedImageShowsItsGeometryOrAnUnknownFormat) {
    DiskPage& page = OpenAt(tree_);
    page.SetAutoInsert(false);
    page.SelectImage(ImageIndex(page, "game.st"));
    const DiskPage::Description& d = page.Described();
    EXPECT_EQ(d.fileName, "game.st");
    EXPECT_EQ(d.fileSize, "360KB");
    EXPECT_EQ(d.fileFormat, "Standard ST Disk Image.");
    EXPECT_EQ(d.tracks, "80");
    EXPECT_EQ(d.sectors, "9");
    EXPECT_EQ(d.sides, "1");
    EXPECT_EQ(page.SelectedPath(), raw_);
    page.SelectImage(ImageIndex(page, "DEMO.MSA"));
    EXPECT_EQ(page.Described().fileFormat, "Unknown image format.");
    EXPECT_EQ(page.Described().tracks, "");
}

TEST_F(DiskPageTest, InsertEjectAndAFailedInsertionLeaveTheDriveAndDriveAAlike) {
    DiskPage& page = OpenAt(tree_);
    page.SetAutoInsert(false);
    page.SelectImage(ImageIndex(page, "game.st"));
    EXPECT_FALSE(page.DriveAHoldsImage());
    page.Insert();
    EXPECT_TRUE(page.DriveAHoldsImage());
    EXPECT_EQ(app_->Config().DriveA, raw_);
    EXPECT_EQ(page.DriveAName(), "game.st");
    // The drive survives a cold reset that rebuilds the machine.
    page.SetAutoInsert(true);
    app_->Config().Machine = 1;
    page.ColdReset();
    EXPECT_EQ(app_->CurrentMachine()->Settings().Machine, 1u);
    EXPECT_TRUE(page.DriveAHoldsImage());
    // With auto-insert a selection replaces the disk; one that cannot go in empties the drive.
    page.SelectImage(ImageIndex(page, "DEMO.MSA"));
    page.Insert();
    EXPECT_FALSE(page.DriveAHoldsImage());
    EXPECT_EQ(app_->Config().DriveA, "");
    EXPECT_EQ(page.DriveAName(), "");
    EXPECT_FALSE(page.InsertProblem().empty());
    page.SelectImage(ImageIndex(page, "game.st"));
    EXPECT_TRUE(page.DriveAHoldsImage());
    page.Eject();
    EXPECT_FALSE(page.DriveAHoldsImage());
    EXPECT_EQ(app_->Config().DriveA, "");
    EXPECT_FALSE(app_->CurrentMachine()->Drive(0).Inserted());
}

TEST_F(DiskPageTest, FolderNamesCompareWholeWhenTheSavedFolderIsReopened) {
    // "sub" is gone; "subway" must not be taken for it.
    DiskPage& page = OpenAt(tree_ + "sub/");
    EXPECT_EQ(page.SelectedNode(), -1);
    EXPECT_EQ(app_->Config().Directory, tree_ + "sub/");
    EXPECT_TRUE(page.Images().empty());
}

TEST_F(DiskPageTest, APathTooLongForTheSettingsIsRefusedNotCut) {
    std::string deep = tree_;
    while (deep.size() < 400) deep += std::string(100, 'd') + "/";
    const std::string name(150, 'e');
    fs::create_directories(deep + name);
    DiskPage& page = OpenAt(deep);
    ASSERT_GE(page.SelectedNode(), 0);
    const int child = Child(page, page.SelectedNode(), name);
    ASSERT_GE(child, 0);
    EXPECT_EQ(page.Nodes()[static_cast<size_t>(child)].path, "");
    page.Select(child);
    EXPECT_FALSE(page.ListProblem().empty());
    EXPECT_EQ(app_->Config().Directory, deep);
}

TEST_F(DiskPageTest, AFolderThatCannotBeReadIsShownAsSuchAndThePageGoesOn) {
    const fs::path gone = dir_ / "tree" / "gone";
    fs::create_directories(gone);
    DiskPage& page = OpenAt(tree_);
    const int node = Child(page, page.SelectedNode(), "gone");
    ASSERT_GE(node, 0);
    fs::remove(gone);  // taken away after it was listed
    page.Expand(node);
    EXPECT_FALSE(page.Nodes()[static_cast<size_t>(node)].problem.empty());
    EXPECT_FALSE(page.Nodes()[static_cast<size_t>(node)].hasChildren);
    page.Select(node);
    EXPECT_FALSE(page.ListProblem().empty());
    EXPECT_TRUE(page.Images().empty());
    page.Select(page.Nodes()[static_cast<size_t>(node)].parent);  // the page goes on
    EXPECT_EQ(page.Images().size(), 2u);
}

TEST_F(PagesTest, TheFilePickerWalksFoldersAndRefusesPathsTooLong) {
    Write("pick/sub/rom.img", Bytes(4, 0));
    const std::string file = Write("pick/a.img", Bytes(4, 0));
    const std::string pick = (dir_ / "pick").string() + "/";
    FileBrowser browser;
    EXPECT_TRUE(browser.Go((dir_ / "pick").string()));
    EXPECT_EQ(browser.Folder(), pick);
    EXPECT_EQ(browser.Listing().folders, std::vector<std::string>{"sub"});
    EXPECT_EQ(browser.Listing().files, std::vector<std::string>{"a.img"});
    EXPECT_FALSE(browser.Go(file));  // a file is the caller's to add
    EXPECT_EQ(browser.PathOf("a.img"), file);
    ASSERT_TRUE(browser.Enter("sub"));
    EXPECT_EQ(browser.Folder(), pick + "sub/");
    browser.Up();
    EXPECT_EQ(browser.Folder(), pick);
    browser.maxLength = pick.size() + 3;  // "sub" fits, "sub/" does not
    EXPECT_FALSE(browser.Enter("sub"));
    EXPECT_EQ(browser.Folder(), pick);
    EXPECT_EQ(browser.PathOf("a.img"), "");
}

struct JoinCase {
    const char* folder;
    std::string name;
    bool asFolder;
    size_t max;
    const char* expected;  // "" when refused
};

class JoinPathTest : public ::testing::TestWithParam<JoinCase> {};

TEST_P(JoinPathTest, JoinsWithinTheLimitOrRefuses) {
    std::string out = "stale";
    const JoinCase& c = GetParam();
    EXPECT_EQ(JoinPath(c.folder, c.name, c.asFolder, c.max, out), *c.expected != '\0');
    EXPECT_EQ(out, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Paths, JoinPathTest,
                         ::testing::Values(JoinCase{"/a/", "b", true, 5, "/a/b/"},
                                           JoinCase{"/a/", "b", true, 4, ""},
                                           JoinCase{"/a/", "bc", false, 5, "/a/bc"},
                                           JoinCase{"/a/", "b/c", false, 50, ""},
                                           JoinCase{"/a/", "", true, 50, ""}));

// What a program wrote to the disk in drive A: shown with its count, saved as a new image
// beside the others (never over one), or forgotten with its overlay file.
TEST_F(DiskPageTest, ChangedDisksAreSavedAsNewImagesOrForgotten) {
    DiskPage& page = OpenAt(tree_);
    ASSERT_TRUE(app_->InsertDiskA(raw_));
    DiskImage& drive = app_->CurrentMachine()->Drive(0);
    if (!drive.Inserted()) {
        ASSERT_TRUE(app_->CurrentMachine()->InsertDisk(0, raw_));  // past the swap's wait
    }
    ASSERT_TRUE(drive.Inserted());
    EXPECT_EQ(page.ChangedText(0), "");
    const uint8_t bytes[512] = {1, 2, 3};
    ASSERT_TRUE(drive.WriteSector(1, 0, 0, bytes, false));
    ASSERT_TRUE(drive.WriteSector(1, 0, 1, bytes, false));
    EXPECT_EQ(page.ChangedText(0), "changed (2 sectors)");
    EXPECT_EQ(page.ChangedText(1), "");
    page.Open();
    EXPECT_EQ(page.newImagePath[0], tree_ + "game-saved.st");
    page.SaveAsNewImage(0);
    EXPECT_EQ(page.ChangesMessage(), "Saved as " + tree_ + "game-saved.st.");
    page.SaveAsNewImage(0);  // it exists now
    EXPECT_NE(page.ChangesMessage().find("exists"), std::string::npos);
    DiskImage saved;
    ASSERT_TRUE(saved.InsertImage(tree_ + "game-saved.st"));
    ASSERT_TRUE(saved.ReadSector(1, 0, 1));
    EXPECT_EQ(saved.SectorBuffer()[0], 0x0102);
    ASSERT_TRUE(drive.FlushOverlay());
    ASSERT_TRUE(fs::exists(drive.OverlayPath()));
    EXPECT_EQ(drive.OverlayPath().rfind(dir_.string() + "/data/disks/", 0), 0u) << drive.OverlayPath();
    page.ForgetChanges(0);
    EXPECT_EQ(page.ChangedText(0), "");
    EXPECT_FALSE(fs::exists(drive.OverlayPath()));
    EXPECT_EQ(test::ReadFile(raw_), RawImage(720, 9, 1));
}

}  // namespace
}  // namespace vexil
