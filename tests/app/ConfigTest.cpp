// The settings file: defaults, value types, normalisation, the ROM list's order, damaged files
// and saves that fail half way.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>

#include "app/Config.h"

namespace vexil {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vexil-config-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        path_ = (dir_ / "vexil.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A file whose first bytes make it a TOS ROM (0x60 0x2E) or an application cartridge.
    std::string MakeImage(const std::string& name, bool cartridge) {
        const fs::path path = dir_ / name;
        std::string bytes(64, '\0');
        if (cartridge)
            bytes.replace(0, 4, "\xAB\xCD\xEF\x42");
        else
            bytes.replace(0, 2, "\x60\x2E");
        WriteAll(path, bytes);
        return path.string();
    }

    MachineConfig config_;
    RomList roms_;
    fs::path dir_;
    std::string path_;
};

TEST_F(ConfigTest, FirstRunUsesTheDefaultsAndTheSaveCreatesTheFile) {
    config_.RAMSize = 0;
    EXPECT_EQ(LoadConfig(path_, config_, roms_).status, ConfigStatus::kMissing);
    EXPECT_EQ(config_.RAMSize, 2u);
    EXPECT_EQ(config_.ramBytes, 0x200000u);
    EXPECT_EQ(config_.bAskFullscreen, 1);
    EXPECT_EQ(config_.g_softwareMode, 1u);
    EXPECT_EQ(roms_.Count(), 0);
    ASSERT_FALSE(fs::exists(path_));

    ASSERT_TRUE(SaveConfig(path_, config_, roms_, nullptr));
    ASSERT_TRUE(fs::exists(path_));
    EXPECT_FALSE(fs::exists(path_ + ".new"));
    MachineConfig again;
    again.YMSound = 7;
    EXPECT_EQ(LoadConfig(path_, again, roms_).status, ConfigStatus::kLoaded);
    EXPECT_EQ(SettingsOf(again, roms_).Format(), SettingsOf(config_, roms_).Format());
}

struct ValueCase {
    const char* name;
    const char* text;
    uint32_t MachineConfig::*field;
    uint32_t expected;
};

class ConfigValue : public ConfigTest, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(ConfigValue, ReadsAsTheMachineWouldHaveIt) {
    WriteAll(path_, GetParam().text);
    ASSERT_EQ(LoadConfig(path_, config_, roms_).status, ConfigStatus::kLoaded);
    EXPECT_EQ(config_.*GetParam().field, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ConfigValue,
    ::testing::Values(
        // A value of another type is read as missing: the default holds.
        ValueCase{"StringForNumber", "[Machine]\nRAMSize = \"1\"\n", &MachineConfig::RAMSize, 2},
        ValueCase{"WordForNumber", "[Machine]\nYMSound = off\n", &MachineConfig::YMSound, 1},
        ValueCase{"NumberBeyond32Bits", "[Machine]\nbLowPass = 4294967296\n", &MachineConfig::bLowPass, 1},
        ValueCase{"Negative", "[Machine]\nDiskSound = -1\n", &MachineConfig::DiskSound, 1},
        ValueCase{"Hex", "[Machine]\nbProfile = 0x1F\n", &MachineConfig::bProfile, 0x1F},
        ValueCase{"NamesIgnoreCase", "[machine]\nramsize = 1\n", &MachineConfig::RAMSize, 1},
        ValueCase{"LaterValueCounts", "[Machine]\nRAMSize = 0\nRAMSIZE = 1\n", &MachineConfig::RAMSize, 1},
        ValueCase{"WrongSection", "[Graphics]\nRAMSize = 0\n", &MachineConfig::RAMSize, 2},
        // RAMSize 3 is 4 MB, 4 is 2.5 MB; larger values are masked with 3.
        ValueCase{"RamSize3", "[Machine]\nRAMSize = 3\n", &MachineConfig::RAMSize, 3},
        ValueCase{"RamSize3Bytes", "[Machine]\nRAMSize = 3\n", &MachineConfig::ramBytes, 0x400000},
        ValueCase{"RamSize4Bytes", "[Machine]\nRAMSize = 4\n", &MachineConfig::ramBytes, 0x280000},
        ValueCase{"RamSize7", "[Machine]\nRAMSize = 7\n", &MachineConfig::RAMSize, 3},
        ValueCase{"RamSize6Bytes", "[Machine]\nRAMSize = 6\n", &MachineConfig::ramBytes, 0x200000},
        ValueCase{"RamSize1Bytes", "[Machine]\nRAMSize = 1\n", &MachineConfig::ramBytes, 0x100000},
        // Values that would push later code out of its tables are brought back into range.
        ValueCase{"FrameSkipKeptTo9", "[Graphics]\nFrameSkip = 1000000\n", &MachineConfig::FrameSkip, 9},
        ValueCase{"UnknownModel", "[Machine]\nMachine = 5\n", &MachineConfig::Machine, 0},
        ValueCase{"MonoMonitor", "[Machine]\nMonitor = 1\n", &MachineConfig::Monitor, 1},
        ValueCase{"UnknownMonitor", "[Machine]\nMonitor = 9\n", &MachineConfig::Monitor, 0},
        ValueCase{"LineModeOutOfRange", "[Machine]\ng_softwareMode = 4\n", &MachineConfig::g_softwareMode, 1},
        ValueCase{"TextureNormalised", "[Machine]\nbUseTexture = 9\n", &MachineConfig::bUseTexture, 1},
        // The STE sound switch is written as bDACSound and read under either spelling.
        ValueCase{"DacSoundAsRead", "[Machine]\nbDacSound = 0\n", &MachineConfig::bDacSound, 0},
        ValueCase{"DacSoundAsWritten", "[Machine]\nbDACSound = 0\n", &MachineConfig::bDacSound, 0},
        ValueCase{"WritableFloppiesByDefault", "[Disks]\n", &MachineConfig::WriteProtectDisks, 0},
        ValueCase{"WriteProtectedFloppies", "[Disks]\nWriteProtectDisks = 1\n",
                  &MachineConfig::WriteProtectDisks, 1},
        ValueCase{"WriteProtectNormalised", "[Disks]\nWriteProtectDisks = 7\n",
                  &MachineConfig::WriteProtectDisks, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConfigTest, RamSize7IsWrittenBackAs3AndDacSoundAsbDACSound) {
    WriteAll(path_, "[Machine]\nRAMSize = 7\nbDacSound = 0\n");
    LoadConfig(path_, config_, roms_);
    ASSERT_TRUE(SaveConfig(path_, config_, roms_, nullptr));
    const std::string saved = ReadAll(path_);
    EXPECT_NE(saved.find("RAMSize = 3\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("bDACSound = 0\n"), std::string::npos) << saved;
}

TEST_F(ConfigTest, ByteSettingsAreNormalisedToOneOrZero) {
    WriteAll(path_,
             "[Graphics]\nbFullscreen = 256\nbAskFullscreen = 0\n[Machine]\nbUseTextureFiltering = 2\n");
    LoadConfig(path_, config_, roms_);
    EXPECT_EQ(config_.bFullscreen, 1);  // 256 would be 0 if cut to a byte
    EXPECT_EQ(config_.bAskFullscreen, 0);
    EXPECT_EQ(config_.bUseTextureFiltering, 1);
}

TEST_F(ConfigTest, PathsSurviveQuotesBackslashesAndControlCharacters) {
    config_.DriveA = "/disks/\"odd\" \\name\t\n\x01.st";
    config_.Directory = std::string(kMaxConfigPath, 'd');
    ASSERT_TRUE(SaveConfig(path_, config_, roms_, nullptr));
    MachineConfig loaded;
    ASSERT_EQ(LoadConfig(path_, loaded, roms_).status, ConfigStatus::kLoaded);
    EXPECT_EQ(loaded.DriveA, config_.DriveA);
    EXPECT_EQ(loaded.Directory, config_.Directory);
}

TEST_F(ConfigTest, APathLongerThanItsBufferIsIgnored) {
    WriteAll(path_, "[Disks]\nDriveA = \"" + std::string(kMaxConfigPath + 1, 'x') + "\"\n");
    LoadConfig(path_, config_, roms_);
    EXPECT_EQ(config_.DriveA, "");
}

TEST_F(ConfigTest, RomListKeepsItsOrderAndActiveFlagsThroughLoadAndSave) {
    const std::string tos1 = MakeImage("tos1.img", false), tos2 = MakeImage("tos2.img", false);
    const std::string cart = MakeImage("cart.img", true);
    WriteAll(path_, "[ROMS]\nCount = 3\nROM0 = \"" + tos1 + "\"\nActive0 = 0\nROM1 = \"" + cart +
                        "\"\nActive1 = 1\nROM2 = \"" + tos2 + "\"\nActive2 = 1\n");
    ASSERT_EQ(LoadConfig(path_, config_, roms_).status, ConfigStatus::kLoaded);
    ASSERT_EQ(roms_.Count(), 3);
    const std::string expected[3] = {tos1, cart, tos2};
    const bool active[3] = {false, true, true};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(roms_.Find(roms_.IdAt(i))->path, expected[i]);
        EXPECT_EQ(roms_.IsActive(roms_.IdAt(i)), active[i]);
    }
    const std::string first = SettingsOf(config_, roms_).Format();
    ASSERT_TRUE(SaveConfig(path_, config_, roms_, nullptr));
    RomList again;
    LoadConfig(path_, config_, again);
    EXPECT_EQ(SettingsOf(config_, again).Format(), first);
}

TEST_F(ConfigTest, OfTwoActiveTosEntriesTheLowerPositionWins) {
    const std::string tos1 = MakeImage("a.img", false), tos2 = MakeImage("b.img", false);
    WriteAll(path_, "[ROMS]\nCount = 2\nROM0 = \"" + tos1 + "\"\nActive0 = 1\nROM1 = \"" + tos2 +
                        "\"\nActive1 = 1\n");
    LoadConfig(path_, config_, roms_);
    EXPECT_EQ(roms_.Find(roms_.FindActive(false))->path, tos1);
    EXPECT_EQ(roms_.FindActive(true), -1);
}

TEST_F(ConfigTest, RomEntriesThatCannotBeUsedAreDropped) {
    const std::string tos = MakeImage("tos.img", false);
    WriteAll(dir_ / "junk.img", "not a ROM at all");
    WriteAll(path_, "[ROMS]\nCount = 4294967295\nROM0 = \"" + tos + "\"\nROM1 = \"" +
                        tos.substr(0, tos.size() - 3) + "IMG\"\nROM2 = \"" + (dir_ / "junk.img").string() +
                        "\"\nROM3 = \"/nonexistent\"\nROM04 = \"" + tos + "x\"\n");
    LoadConfig(path_, config_, roms_);  // a huge Count costs nothing: only present positions are read
    ASSERT_EQ(roms_.Count(), 1);
    EXPECT_EQ(roms_.Find(roms_.IdAt(0))->path, tos);
}

// Files that break the syntax, some of them a good file cut short.
class DamagedConfig : public ConfigTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(DamagedConfig, IsReportedAndLeavesDefaultsAndTheFileUntouched) {
    WriteAll(path_, GetParam());
    const ConfigLoad load = LoadConfig(path_, config_, roms_);
    EXPECT_EQ(load.status, ConfigStatus::kDamaged);
    EXPECT_NE(load.message.find(path_), std::string::npos);
    EXPECT_EQ(SettingsOf(config_, roms_).Format(), SettingsOf(MachineConfig{}, RomList{}).Format());
    EXPECT_EQ(ReadAll(path_), GetParam());
}

std::string RandomText(unsigned seed) {
    std::mt19937 random(seed);
    std::string text(600, '\0');
    for (char& c : text) c = static_cast<char>(random());
    return text;
}

INSTANTIATE_TEST_SUITE_P(Damaged, DamagedConfig,
                         ::testing::Values("[Machine]\nRAMSize = 1\n[Disks]\nDriveA = \"/home/me/ga",
                                           "[Machine]\nRAMSize = 1\n[Dis", "[Machine]\nRAMSi",
                                           "RAMSize = 1\n", "[Machine] RAMSize = 1\n", "[]\n",
                                           "[Machine]\nDriveA = \"a\\qb\"\n",
                                           "[Machine]\nDriveA = \"a\\x00\"\n",
                                           "[Machine]\nDriveA = \"a\" b\n",
                                           std::string("[Machine]\nX = \0\n", 15), RandomText(1),
                                           RandomText(2), std::string(2 << 20, ';')));

TEST_F(ConfigTest, AFolderInPlaceOfTheFileIsReported) {
    fs::create_directories(path_);
    EXPECT_EQ(LoadConfig(path_, config_, roms_).status, ConfigStatus::kDamaged);
}

TEST_F(ConfigTest, ASaveThatCannotWriteLeavesTheOldFile) {
    WriteAll(path_, "[Machine]\nRAMSize = 1\n");
    fs::create_directories(path_ + ".new");  // the new file cannot be made
    std::string error;
    EXPECT_FALSE(SaveConfig(path_, config_, roms_, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadAll(path_), "[Machine]\nRAMSize = 1\n");
}

// A disk that fills up during the write: the file size limit cuts the write short.
class FullDiskTest : public ConfigTest {
protected:
    void SetUp() override {
        ConfigTest::SetUp();
        getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = signal(SIGXFSZ, SIG_IGN);
    }
    void TearDown() override {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, oldHandler_);
        ConfigTest::TearDown();
    }
    rlimit saved_{};
    sighandler_t oldHandler_ = SIG_DFL;
};

TEST_F(FullDiskTest, AnInterruptedSaveLeavesTheOldFileWhole) {
    const std::string old = "[Machine]\nRAMSize = 1\n";
    WriteAll(path_, old);
    rlimit small = saved_;
    small.rlim_cur = 100;  // the settings take several hundred bytes
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    EXPECT_FALSE(SaveConfig(path_, config_, roms_, &error));
    setrlimit(RLIMIT_FSIZE, &saved_);
    EXPECT_EQ(ReadAll(path_), old);
    EXPECT_FALSE(fs::exists(path_ + ".new"));
}

// Sets environment variables for one test and puts the old values back afterwards.
class EnvironmentTest : public ::testing::Test {
protected:
    void Set(const char* name, const char* value) {
        if (!saved_.count(name)) {
            const char* old = getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(EnvironmentTest, SettingsFollowTheXdgFoldersAndFallBackToHome) {
    Set("HOME", "/home/someone");
    Set("XDG_CONFIG_HOME", "/cfg");
    Set("XDG_DATA_HOME", "relative");  // not absolute: ignored
    EXPECT_EQ(DefaultConfigPath(), "/cfg/vexil/vexil.ini");
    EXPECT_EQ(DataDirectory(), "/home/someone/.local/share/vexil");
    Set("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(DefaultConfigPath(), "/home/someone/.config/vexil/vexil.ini");
}

}  // namespace
}  // namespace vexil
