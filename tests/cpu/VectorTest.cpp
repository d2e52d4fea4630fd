// Third-party single-step vectors for the 68000 (one file per instruction family), run
// through the test seam: every register, SR, the next PC and every listed RAM byte must match.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
// GCC 12 warns inside libstdc++'s <regex> at -O1 (a known false positive about its own
// std::function members); the tables below are clearer as regular expressions.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cpu/Cpu.h"
#include "cpu/test_seam.h"

namespace vexil {
namespace {

namespace fs = std::filesystem;

// ---- what is compared, and what this machine does differently -------------------------------

enum Field : uint32_t {
    kFlagC = 1 << 0,
    kFlagV = 1 << 1,
    kFlagZ = 1 << 2,
    kFlagN = 1 << 3,
    kFlagX = 1 << 4,
    kDataRegs = 1 << 5,
    kAddrRegs = 1 << 6,  // A0-A6
    kCycles = 1 << 7,
    kFrameWords = 1 << 8,  // the group 0 frame's status word, instruction register word and PC
    kUsp = 1 << 9,
    kSsp = 1 << 10,
    kFrameAddress = 1 << 11,  // the group 0 frame's access address
};

enum class When { kAlways, kAddressError, kOverflow /* the reference ends with V set */ };

struct Mask {
    const char* pattern;  // regular expression over the instruction text, e.g. "MOVE.l D6, (A0) 2086"
    When when;
    uint32_t fields;
    const char* reason;
};

// Every difference that is not a fault of ours, with its reason. Keep each as narrow as it can be.
const Mask kMasks[] = {
    {"", When::kAddressError, kFrameWords,
     "group 0 frames carry 0 in the status and instruction register words, and the PC as the "
     "instruction had advanced it; the condition codes pushed are those the instruction had set "
     "before its faulting access"},
    {"", When::kAddressError,
     kDataRegs | kAddrRegs | kUsp | kFlagC | kFlagV | kFlagZ | kFlagN | kFlagX | kCycles,
     "after an address error the instruction runs to its end with an unspecified operand"},
    {R"(^MOVEM?\.l .*, -\(A\d\))", When::kAddressError, kFrameAddress,
     "the 68000 writes a long to -(An) low word first, so it reports a fault address 2 higher; "
     "here the long is one access, reported at its own address"},
    {R"(A7)", When::kAddressError, kSsp,
     "the instruction that runs to its end after an address error still steps A7 by its (A7)+ "
     "or -(A7) operand"},
    {R"(^TRAPV )", When::kAlways, kCycles,
     "TRAPV that traps costs 38 cycles here (the chip: 34); without the trap both take 4"},
    {R"(^(ABCD|SBCD|NBCD) )", When::kAlways, kFlagV,
     "V is undefined after decimal arithmetic; it is cleared here (the chip sets it from the "
     "decimal adjust)"},
    {R"(^DIV[SU] )", When::kOverflow, kFlagN, "N is undefined after a division overflow; it is cleared here"},
    {R"(^DIV[SU] )", When::kAlways, kCycles,
     "DIVU costs 133 + ea and DIVS 150 + ea here whatever the operands; the chip's time depends "
     "on them and is much shorter on overflow"},
    {R"(^CHK (-\(A\d\)|\(d8, (A\d|PC), Xn\)), )", When::kAlways, kCycles,
     "CHK that traps costs 40 + ea here; the chip overlaps 2 cycles of the address calculation of "
     "these modes with the trap, so it is 4 cycles less after rounding"},
    {R"(^BCLR (D\d|#), D\d )", When::kAlways, kCycles,
     "BCLR on a data register costs 8 (Dn,Dn) or 12 (#n,Dn) whatever the bit number; the chip "
     "takes 2 more for bits 16-31"},
};

// A test's name without its number: "MOVE.l D6, (A0) 2086".
std::string InstructionText(const std::string& name) {
    return name.substr(name.find(' ') + 1);
}

// Instructions this machine charges differently from a bare 68000's count rounded to a bus
// slot: a regular expression over the test's instruction text ("MOVE.b -(A5), (d8, A4, Xn) 19a5")
// and the cycles added.
struct CycleRule {
    const char* pattern;
    int extra;
    const char* reason;
};

const CycleRule kCycleRules[] = {
    {R"(^MOVE\.[bw] (-\(A\d\)|\(d8, (A\d|PC), Xn\)), \(d8, A\d, Xn\))", 4,
     "each step is rounded to a bus slot on its own: 2 + 2 cycles cost two slots"},
    {R"(^MOVE\.l (-\(A\d\)|\(d8, (A\d|PC), Xn\)), \(d8, A\d, Xn\))", 4, "as above, long"},
    {R"(^(ADD|SUB|CMP|AND|OR)\.l (-\(A\d\)|\(d8, (A\d|PC), Xn\)), D\d )", 4,
     "each step is rounded to a bus slot on its own: the 2 cycles before the read and the 2 after "
     "it cost a slot each"},
    {R"(^LEA \(d8, A\d, Xn\))", 4,
     "LEA (d8,An,Xn) costs 16 here: the idle cycles before each of its two reads push them into "
     "the next bus slots"},
    {R"(^BTST D\d, # )", -4, "BTST Dn,#imm costs the 68000 tables' 4 + 4 = 8 cycles; the chip takes 10"},
};

// The patterns of a table of rows, compiled once.
template <typename Row, size_t N>
std::vector<std::regex> Compile(const Row (&rows)[N]) {
    std::vector<std::regex> out;
    for (const Row& row : rows) out.emplace_back(row.pattern);
    return out;
}

int ExtraCycles(const std::string& name) {
    static const std::vector<std::regex> compiled = Compile(kCycleRules);
    const std::string key = InstructionText(name);
    int extra = 0;
    for (size_t i = 0; i < compiled.size(); ++i)
        if (std::regex_search(key, compiled[i])) extra += kCycleRules[i].extra;
    return extra;
}

uint32_t MaskedFields(const std::string& name, bool addressError, bool overflow) {
    static const std::vector<std::regex> compiled = Compile(kMasks);
    const std::string text = InstructionText(name);
    uint32_t fields = 0;
    for (size_t i = 0; i < compiled.size(); ++i)
        if ((kMasks[i].when == When::kAlways || (kMasks[i].when == When::kAddressError && addressError) ||
             (kMasks[i].when == When::kOverflow && overflow)) &&
            std::regex_search(text, compiled[i]))
            fields |= kMasks[i].fields;
    return fields;
}

// ---- the vector files -----------------------------------------------------------------------

struct State {
    uint32_t d[8], a[7], usp, ssp, sr, pc;
};

struct Vector {
    std::string name;
    int cycles = 0;
    State initial{}, final{};
    std::vector<std::pair<uint32_t, uint8_t>> ram, finalRam;
    bool addressError = false;
};

fs::path VectorDir() {
    if (const char* dir = std::getenv("VEXIL_VECTOR_DIR")) return dir;
    return fs::path(VEXIL_SHARED_DIR) / "m68000-vectors";
}

bool ParseState(std::istringstream& in, State& s) {
    for (auto& r : s.d) in >> std::hex >> r;
    for (auto& r : s.a) in >> std::hex >> r;
    in >> std::hex >> s.usp >> s.ssp >> s.sr >> s.pc;
    return !in.fail();
}

void ParseRam(std::istringstream& in, std::vector<std::pair<uint32_t, uint8_t>>& ram) {
    int count = 0;
    in >> std::dec >> count;
    for (int i = 0; i < count; ++i) {
        uint32_t address = 0, byte = 0;
        in >> std::hex >> address >> byte;
        ram.emplace_back(address, static_cast<uint8_t>(byte));
    }
}

std::vector<Vector> ReadVectors(const fs::path& path) {
    std::vector<Vector> out;
    const std::string command = "gzip -dc '" + path.string() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    std::string text;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    pclose(pipe);

    std::istringstream lines(text);
    std::string line;
    Vector v;
    while (std::getline(lines, line)) {
        std::istringstream in(line);
        std::string tag;
        in >> tag;
        if (tag == "test") {
            v = Vector{};
            std::getline(in >> std::ws, v.name);
        } else if (tag == "len") {
            in >> std::dec >> v.cycles;
        } else if (tag == "ireg") {
            ParseState(in, v.initial);
        } else if (tag == "freg") {
            ParseState(in, v.final);
        } else if (tag == "iram") {
            ParseRam(in, v.ram);
        } else if (tag == "fram") {
            ParseRam(in, v.finalRam);
        } else if (tag == "bus") {
            v.addressError = line.find(" re ") != std::string::npos || line.find(" we ") != std::string::npos;
        } else if (tag == "end") {
            out.push_back(v);
        }
    }
    return out;
}

// ---- running one vector ---------------------------------------------------------------------

class VectorRunner {
public:
    VectorRunner() : ram_(0x800000) {
        cpu_seam::MapFlatRam(tables_, ram_.data());
        g_cpu.resetHook = [](void*) {};  // RESET resets the chips and goes on, as on the machine
    }

    // Returns the mismatches, empty when the vector passes.
    std::string Run(const Vector& v) {
        for (auto [address, byte] : v.ram) Poke(address, byte);
        cpu_seam::Registers r{};
        for (int i = 0; i < 8; ++i) r.d[i] = v.initial.d[i];
        for (int i = 0; i < 7; ++i) r.a[i] = v.initial.a[i];
        r.usp = v.initial.usp;
        r.ssp = v.initial.ssp;
        r.sr = static_cast<uint16_t>(v.initial.sr);
        r.pc = v.initial.pc - 4;  // the vectors' PC is the opcode's address + 4
        cpu_seam::SetRegisters(r);
        g_cpu.pending = 0;
        const int cycles = cpu_seam::Step();
        const cpu_seam::Registers got = cpu_seam::GetRegisters();

        const uint32_t masked = MaskedFields(v.name, v.addressError, (v.final.sr & 2) != 0);
        std::ostringstream bad;
        auto check = [&](const char* what, uint32_t have, uint32_t want) {
            if (have != want) bad << " " << what << "=" << std::hex << have << "(want " << want << ")";
        };
        static const char* const kD[] = {"d0", "d1", "d2", "d3", "d4", "d5", "d6", "d7"};
        static const char* const kA[] = {"a0", "a1", "a2", "a3", "a4", "a5", "a6"};
        if (!(masked & kDataRegs))
            for (int i = 0; i < 8; ++i) check(kD[i], got.d[i], v.final.d[i]);
        if (!(masked & kAddrRegs))
            for (int i = 0; i < 7; ++i) check(kA[i], got.a[i], v.final.a[i]);
        if (!(masked & kUsp)) check("usp", got.usp, v.final.usp);
        if (!(masked & kSsp)) check("ssp", got.ssp, v.final.ssp);
        const uint32_t srMask = 0xFFFF & ~(masked & 0x1F);
        check("sr", got.sr & srMask, v.final.sr & srMask);
        // STOP leaves the prefetch queue empty: the vectors' PC is then the PC itself.
        const bool stopped = (g_cpu.pending & 1) != 0;
        check("pc", got.pc, stopped ? v.final.pc : v.final.pc - 4);
        if (!(masked & kCycles))
            check("cycles", static_cast<uint32_t>(cycles),
                  static_cast<uint32_t>(((v.cycles + 3) & ~3) + ExtraCycles(v.name)));

        // Bytes of a group 0 frame that this machine fills differently.
        const uint32_t frame = v.final.ssp & 0xFFFFFF;
        auto inFrame = [&](uint32_t address) {
            const uint32_t o = (address - frame) & 0xFFFFFF;
            if ((masked & kFrameAddress) && o >= 2 && o < 6) return true;
            if (!(masked & kFrameWords)) return false;
            return o < 2 || (o >= 6 && o < 8) || o == 9 || (o >= 10 && o < 14);
        };
        for (auto [address, byte] : v.finalRam) {
            if (inFrame(address)) continue;
            const uint8_t have = Peek(address);
            if (have != byte)
                bad << " ram[" << std::hex << address << "]=" << int(have) << "(want " << int(byte) << ")";
        }
        for (auto [address, byte] : v.ram) Poke(address, 0);
        for (auto [address, byte] : v.finalRam) Poke(address, 0);
        return bad.str();
    }

private:
    uint8_t* Bytes() { return reinterpret_cast<uint8_t*>(ram_.data()); }
    void Poke(uint32_t address, uint8_t v) { Bytes()[(address & 0xFFFFFF) ^ 1] = v; }
    uint8_t Peek(uint32_t address) { return Bytes()[(address & 0xFFFFFF) ^ 1]; }
    std::vector<uint16_t> ram_;
    MachineTables tables_;
};

std::vector<std::string> VectorFiles() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(VectorDir(), ec)) {
        const std::string n = entry.path().filename().string();
        const std::string suffix = ".txt.gz";
        if (n.size() > suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
            names.push_back(n.substr(0, n.size() - suffix.size()));
    }
    std::sort(names.begin(), names.end());
    if (names.empty()) names.push_back("none");
    return names;
}

class Vectors : public ::testing::TestWithParam<std::string> {
protected:
    void TearDown() override { g_cpu.resetHook = nullptr; }  // the runner sets its own
};

TEST_P(Vectors, MatchTheReferenceCore) {
    const std::string file = GetParam();
    const fs::path path = VectorDir() / (file + ".txt.gz");
    if (!fs::exists(path)) GTEST_SKIP() << "no 68000 vectors at " << VectorDir();
    const std::vector<Vector> vectors = ReadVectors(path);
    ASSERT_FALSE(vectors.empty()) << "could not read " << path;
    VectorRunner runner;
    int failures = 0;
    std::ostringstream report;
    for (const Vector& v : vectors) {
        const std::string bad = runner.Run(v);
        if (bad.empty()) continue;
        if (++failures <= 5) report << "  " << v.name << ":" << bad << "\n";
    }
    std::printf("%s: %zu of %zu passed\n", file.c_str(), vectors.size() - failures, vectors.size());
    EXPECT_EQ(failures, 0) << file << ": " << failures << " of " << vectors.size() << " failed\n"
                           << report.str();
}

INSTANTIATE_TEST_SUITE_P(M68000, Vectors, ::testing::ValuesIn(VectorFiles()), [](const auto& info) {
    std::string name = info.param;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

}  // namespace
}  // namespace vexil
