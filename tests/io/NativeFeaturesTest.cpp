#include <gtest/gtest.h>

#include <string>

#include "io/NativeFeatures.h"
#include "support/FlatMachine.h"

namespace vexil {
namespace {

using test::FlatMachine;

constexpr uint16_t kSupervisor = 0x2700, kUser = 0x0700;
constexpr uint32_t kSsp = 0x80000, kUsp = 0x70000;

class NativeFeaturesTest : public test::ProgramTest {
protected:
    NativeFeaturesTest() : ProgramTest("natfeats") {
        natFeats_.output.context = this;
        natFeats_.output.write = [](void* c, const char* text, size_t length, bool fromRom) {
            auto& self = *static_cast<NativeFeaturesTest*>(c);
            self.text_.append(text, length);
            self.fromRom_ = fromRom;
        };
        natFeats_.tables = &m_.Tables();
        g_cpu.nativeFeatures = &NativeFeatures::Hook;
        g_cpu.nativeFeaturesContext = &natFeats_;
    }
    ~NativeFeaturesTest() override {
        g_cpu.nativeFeatures = nullptr;
        g_cpu.nativeFeaturesContext = nullptr;
    }

    // Runs `label` in the mode `sr` until `done`; the registers a0-a2 and d6 as given.
    cpu_seam::Registers Run(const std::string& label, const std::string& done, uint16_t sr, uint32_t a0,
                            uint32_t id = 0, uint32_t a1 = 0, uint32_t a2 = 0) {
        StartAt(label, sr);
        auto r = cpu_seam::GetRegisters();
        r.a[0] = a0, r.a[1] = a1, r.a[2] = a2, r.d[6] = id;
        r.d[0] = 0x55555555, r.d[1] = 0x11111111;
        cpu_seam::SetRegisters(r);
        m_.RunTo(program_.Symbol(done), 1000);
        return cpu_seam::GetRegisters();
    }
    uint32_t Id(const char* symbol, uint16_t sr = kSupervisor) {
        return Run("lookup", "lookup_done", sr, program_.Symbol(symbol)).d[0];
    }
    static constexpr uint32_t kBuffer = 0x20000;  // beyond the program, which each case reloads
    std::string Buffer() const {
        std::string s;
        for (uint32_t a = kBuffer; m_.Byte(a) != 0 && s.size() < 64; ++a) s += static_cast<char>(m_.Byte(a));
        return s;
    }

    NativeFeatures natFeats_;
    std::string text_;
    bool fromRom_ = true;
};

struct LookupRow {
    const char* symbol;
    bool known;
};

class NativeFeatureLookupTest : public NativeFeaturesTest, public ::testing::WithParamInterface<LookupRow> {};

TEST_P(NativeFeatureLookupTest, NamesGiveIdsWithTheirLowBitsFreeAndOthersZero) {
    for (const uint16_t sr : {kSupervisor, kUser}) {
        const cpu_seam::Registers r = Run("lookup", "lookup_done", sr, program_.Symbol(GetParam().symbol));
        EXPECT_EQ(r.pc, program_.Symbol("lookup_done"));
        EXPECT_EQ(r.a[7], sr == kUser ? kUsp : kSsp);  // the caller popped what it pushed
        EXPECT_EQ(r.d[1], 0x11111111u);                // only D0 changes
        if (GetParam().known) {
            EXPECT_NE(r.d[0], 0u);
            EXPECT_EQ(r.d[0] & 0xFFFFF, 0u);
        } else {
            EXPECT_EQ(r.d[0], 0u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Names, NativeFeatureLookupTest,
                         ::testing::Values(LookupRow{"name_stderr", true}, LookupRow{"name_name", true},
                                           LookupRow{"name_version", true}, LookupRow{"name_shutdown", true},
                                           LookupRow{"name_exit", true}, LookupRow{"name_xhdi", false},
                                           LookupRow{"name_config", false}, LookupRow{"name_lower", false}));

TEST_F(NativeFeaturesTest, StderrSendsTheStringAsGivenFromBothModes) {
    for (const uint16_t sr : {kSupervisor, kUser}) {
        text_.clear();
        const uint32_t id = Id("name_stderr", sr);
        const cpu_seam::Registers r = Run("call", "call_done", sr, 0, id, program_.Symbol("text"));
        EXPECT_EQ(text_, "a line\n");
        EXPECT_FALSE(fromRom_);  // the stub lies in RAM: the program's own text
        EXPECT_EQ(r.d[0], 7u);
        EXPECT_EQ(r.a[7], sr == kUser ? kUsp : kSsp);
    }
}

TEST_F(NativeFeaturesTest, NameWritesTheShortAndTheFullNameWithinTheBuffer) {
    natFeats_.fullName = "Vexil 9.9";
    const uint32_t id = Id("name_name");
    const uint32_t buffer = kBuffer;
    for (uint32_t i = 0; i < 32; ++i) m_.SetByte(buffer + i, 0xAA);
    Run("call", "call_done", kSupervisor, 0, id, buffer, 32);
    EXPECT_EQ(Buffer(), "Vexil");
    Run("call", "call_done", kUser, 0, id | 1, buffer, 32);
    EXPECT_EQ(Buffer(), "Vexil 9.9");
    for (uint32_t i = 0; i < 32; ++i) m_.SetByte(buffer + i, 0xAA);
    Run("call", "call_done", kSupervisor, 0, id | 1, buffer, 4);  // room for three and the NUL
    EXPECT_EQ(Buffer(), "Vex");
    EXPECT_EQ(m_.Byte(buffer + 4), 0xAA);
}

TEST_F(NativeFeaturesTest, VersionShutdownAndExit) {
    EXPECT_EQ(Run("call", "call_done", kUser, 0, Id("name_version")).d[0], NativeFeatures::kVersion);
    EXPECT_FALSE(natFeats_.Exited());
    Run("call", "call_done", kUser, 0, Id("name_exit"), 7);
    EXPECT_TRUE(natFeats_.Exited());
    EXPECT_EQ(natFeats_.ExitCode(), 7);
    natFeats_.ClearExit();
    Run("call", "call_done", kSupervisor, 0, Id("name_shutdown"));
    EXPECT_TRUE(natFeats_.Exited());
    EXPECT_EQ(natFeats_.ExitCode(), 0);
}

TEST_F(NativeFeaturesTest, AnUnknownIdReturnsZero) {
    EXPECT_EQ(Run("call", "call_done", kSupervisor, 0, 0x7FF00000).d[0], 0u);
    EXPECT_FALSE(natFeats_.Exited());
}

TEST_F(NativeFeaturesTest, OffBothWordsTakeTheIllegalInstructionException) {
    g_cpu.nativeFeatures = nullptr;
    m_.SetLong(4 * 4, program_.Symbol("illegal_handler"));
    for (const char* label : {"lookup", "call"}) {
        for (const uint16_t sr : {kSupervisor, kUser}) {
            const cpu_seam::Registers r = Run(label, "illegal_loop", sr, program_.Symbol("name_stderr"));
            EXPECT_EQ(r.pc, program_.Symbol("illegal_loop")) << label;
            EXPECT_EQ(r.d[3], 4u);
            EXPECT_EQ(r.d[0], 0x55555555u);
            // The frame holds the SR and the address of the word itself.
            const uint32_t word =
                std::string(label) == "lookup" ? program_.Symbol("nf_id") : program_.Symbol("nf_call_word");
            EXPECT_EQ(m_.Long(r.a[7] + 2), word);
            EXPECT_EQ(m_.Word(r.a[7]) & 0xFF00, sr);
        }
    }
}

}  // namespace
}  // namespace vexil
