#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "debugger/Disassembler.h"
#include "support/Asm.h"

namespace vexil {
namespace {

// Big-endian bytes placed at `base`; words outside read as unmapped.
struct Buffer {
    uint32_t base = 0;
    std::vector<uint8_t> bytes;

    uint32_t Read(uint32_t address) const {
        const uint32_t offset = address - base;
        if (offset >= bytes.size() || bytes.size() - offset < 2) return 0xFFFFFFFF;
        return static_cast<uint32_t>(bytes[offset]) << 8 | bytes[offset + 1];
    }
    Disassembler Make() const {
        return Disassembler([this](uint32_t address) { return Read(address); });
    }
};

const test::AsmProgram& Cases() {
    static const test::AsmProgram program = test::LoadAsm("disassembler");
    return program;
}

Buffer CasesBuffer() {
    return {Cases().origin, Cases().bytes};
}

struct TextCase {
    const char* label;
    const char* text;  // '@' stands for the label's own address in hex
};

class DisassemblerText : public testing::TestWithParam<TextCase> {};

// Every case's text, and its length: up to the next label, or one word for "dc.w".
TEST_P(DisassemblerText, MatchesTheListingFormat) {
    const TextCase& c = GetParam();
    const uint32_t address = Cases().Symbol(c.label);
    std::string expected = c.text;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", address);
    for (size_t at; (at = expected.find('@')) != std::string::npos;) expected.replace(at, 1, hex);
    uint32_t next = 0xFFFFFFFF;
    for (const auto& [name, value] : Cases().symbols)
        if (value > address && value < next) next = value;
    const uint32_t length = expected.rfind("dc.w", 0) == 0 ? 2 : next - address;

    const Buffer buffer = CasesBuffer();
    Disassembler disassembler = buffer.Make();
    disassembler.SetAddress(address);
    EXPECT_EQ(disassembler.DisassembleOne(), expected);
    EXPECT_EQ(disassembler.LastLength(), length);
    EXPECT_EQ(disassembler.GetAddress(), address + length);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DisassemblerText,
    testing::Values(
        TextCase{"c_bra_short", "bra.s   $1004"}, TextCase{"c_nop", "nop"}, TextCase{"c_illegal", "illegal"},
        TextCase{"c_movec_vbr", "movec   vbr,d0"}, TextCase{"c_moveq_80", "moveq   #$80,d0"},
        TextCase{"c_movem_d0a6", "movem.l d0-a6,-(a7)"}, TextCase{"c_movem_d6a1", "movem.l d6-a1,(a0)"},
        TextCase{"c_movem_sparse", "movem.l d0/a0/a7,(a0)"}, TextCase{"c_movem_single", "movem.w d3,-(a0)"},
        TextCase{"c_movem_empty", "movem.l ,(a0)"}, TextCase{"c_movem_load", "movem.w (a7)+,d0-d3/a5"},
        TextCase{"c_movem_predec", "movem.l d0-d2/a4,-(a7)"},
        TextCase{"c_movem_abs", "movem.l $400.W,d0/d2/d4/d6/a0/a2/a4/a6"},
        TextCase{"c_index_neg", "lea     -$4(a0,d1.w),a2"}, TextCase{"c_index_an", "tst.b   -$4(a0,a1.w)"},
        TextCase{"c_abs_short", "tst.w   $FFFF8240.W"}, TextCase{"c_ea_dn", "move.w  d3,d1"},
        TextCase{"c_ea_an", "move.w  a3,d1"}, TextCase{"c_ea_ind", "move.w  (a3),d1"},
        TextCase{"c_ea_postinc", "move.w  (a3)+,d1"}, TextCase{"c_ea_predec", "move.w  -(a3),d1"},
        TextCase{"c_ea_disp", "move.w  +$10(a3),d1"}, TextCase{"c_ea_disp_neg", "move.w  -$8000(a3),d1"},
        TextCase{"c_ea_index", "move.w  +$7F(a3,d4.l),d1"}, TextCase{"c_ea_abs_w", "move.w  $400.W,d1"},
        TextCase{"c_ea_abs_l", "move.w  $FC0000,d1"}, TextCase{"c_ea_pc", "move.w  $@(pc),d1"},
        TextCase{"c_ea_pc_index", "move.w  $@(pc,a2),d1"}, TextCase{"c_ea_imm_b", "move.b  #$12,d1"},
        TextCase{"c_ea_imm_w", "move.w  #$1234,d1"}, TextCase{"c_ea_imm_l", "move.l  #$12345678,d1"},
        TextCase{"c_ea_to_an", "move.l  d0,a1"}, TextCase{"c_ea_to_disp", "move.l  -$2(a0),+$2(a1)"},
        TextCase{"c_ea_to_abs_l", "move.l  #$FFFFFFFF,$FF8240"}, TextCase{"c_ori_ccr", "ori.b    #$1F,ccr"},
        TextCase{"c_andi_sr", "andi.w   #$F8FF,sr"}, TextCase{"c_eori_b", "eori.b  #$80,d1"},
        TextCase{"c_addi_l", "addi.l  #$10000,(a0)+"}, TextCase{"c_cmpi_w", "cmpi.w  #$FFFF,$400.W"},
        TextCase{"c_btst_static", "btst    #$3,d0"}, TextCase{"c_bset_static", "bset    #$7,+$2(a0)"},
        TextCase{"c_btst_dynamic", "btst    d1,#$5"}, TextCase{"c_bchg_dynamic", "bchg    d2,(a0)"},
        TextCase{"c_movep_load", "movep   +$8(a0),d1"}, TextCase{"c_movep_store", "movep.l d1,(a0)"},
        TextCase{"c_movep_neg", "movep.l -$6(a2),d3"}, TextCase{"c_negx_b", "negx.b  d0"},
        TextCase{"c_clr_l", "clr.l   -(a7)"}, TextCase{"c_not_w", "not.w   (a2)"},
        TextCase{"c_tst_l", "tst.l   d7"}, TextCase{"c_from_sr", "move.w  sr,d0"},
        TextCase{"c_from_ccr", "move.b  ccr,d0"}, TextCase{"c_to_ccr", "move.b  #$1F,ccr"},
        TextCase{"c_to_sr", "move.w  #$2700,sr"}, TextCase{"c_chk", "chk     (a0),d1"},
        TextCase{"c_lea_pc", "lea     $@(pc),a0"}, TextCase{"c_nbcd", "nbcd.b  d0"},
        TextCase{"c_pea", "pea     $20.W"}, TextCase{"c_swap", "swap    d5"},
        TextCase{"c_ext_w", "ext.w   d1"}, TextCase{"c_ext_l", "ext.l   d2"},
        TextCase{"c_tas", "tas     (a0)"}, TextCase{"c_trap", "trap    #15"},
        TextCase{"c_link", "link    a6,-#$8"}, TextCase{"c_unlk", "unlk    a6"},
        TextCase{"c_to_usp", "move.l  a0,usp"}, TextCase{"c_from_usp", "move.l  usp,a1"},
        TextCase{"c_reset", "reset"}, TextCase{"c_stop", "stop    #$2700"},
        TextCase{"c_stop_narrow", "stop    #$ 700"}, TextCase{"c_rte", "rte"},
        TextCase{"c_rtd", "rtd     -#$4"}, TextCase{"c_rts", "rts"}, TextCase{"c_trapv", "trapv"},
        TextCase{"c_rtr", "rtr"}, TextCase{"c_movec_to", "movec   a0,sfc"},
        TextCase{"c_movec_bad", "movec   ???,d0"}, TextCase{"c_jsr", "jsr     (a0)"},
        TextCase{"c_jmp", "jmp     $FC0030"}, TextCase{"c_addq", "addq.w  #8,a0"},
        TextCase{"c_subq", "subq.l  #1,d0"}, TextCase{"c_st", "st      d0"},
        TextCase{"c_shi", "shi     (a0)"}, TextCase{"c_dbne", "dbne    d1,$@"},
        TextCase{"c_beq_s", "beq.s   $@"}, TextCase{"c_bsr_s", "bsr     $@"},
        TextCase{"c_bsr_w", "bsr     $@"}, TextCase{"c_bvs_w", "bvs     $1002"},
        TextCase{"c_or_b", "or.b    (a0),d0"}, TextCase{"c_and_l", "and.l   d1,(a0)"},
        TextCase{"c_add_w", "add.w   a1,d2"}, TextCase{"c_sub_b", "sub.b   d3,-(a1)"},
        TextCase{"c_cmp_l", "cmpi.l  #$1,d0"}, TextCase{"c_eor_w", "eor.w   d0,d1"},
        TextCase{"c_adda_w", "adda.w  d0,a1"}, TextCase{"c_suba_l", "suba.l  #$4,a7"},
        TextCase{"c_cmpa_w", "cmpa.w  (a0),a2"}, TextCase{"c_divu", "divu    #$A,d0"},
        TextCase{"c_divs", "divs    d1,d0"}, TextCase{"c_mulu", "mulu    (a0)+,d0"},
        TextCase{"c_muls", "muls    d1,d2"}, TextCase{"c_addx_d", "addx.b  d1,d0"},
        TextCase{"c_subx_m", "subx.l  -(a1),-(a0)"}, TextCase{"c_abcd_m", "abcd    -(a1),-(a0)"},
        TextCase{"c_sbcd_d", "sbcd    d1,d0"}, TextCase{"c_cmpm", "cmpm.w  (a1)+,(a0)+"},
        TextCase{"c_exg_dd", "exg     d1,d2"}, TextCase{"c_exg_aa", "exg     a1,a2"},
        TextCase{"c_exg_da", "exg     d1,a2"}, TextCase{"c_asl_imm", "asl.b   #$8,d0"},
        TextCase{"c_lsr_reg", "lsr.w   d1,d2"}, TextCase{"c_roxl_imm", "roxl.l  #$1,d0"},
        TextCase{"c_ror_reg", "ror.w   d0,d1"}, TextCase{"c_asr_mem", "asr     (a0)"},
        TextCase{"c_roxl_mem", "roxl    +$2(a1)"}, TextCase{"c_line_a", "dc.w    $A000"},
        TextCase{"c_line_f", "dc.w    $F200"}, TextCase{"c_lea_dn", "dc.w    $41C0"},
        TextCase{"c_move_b_an", "dc.w    $1208"}, TextCase{"c_addi_pc", "dc.w    $63A"},
        TextCase{"c_moves", "dc.w    $E10"}, TextCase{"c_control_hole", "dc.w    $4E7C"},
        TextCase{"c_exg_bad", "dc.w    $C180"}, TextCase{"c_bitfield", "dc.w    $E8C0"},
        TextCase{"c_moveq_bit8", "dc.w    $7100"}, TextCase{"c_ori_ccr_long", "dc.w    $BC"},
        TextCase{"c_dbra", "dbra    d0,$2000"}, TextCase{"c_bra_word", "bra     $2016"}),
    [](const testing::TestParamInfo<TextCase>& info) { return std::string(info.param.label); });

TEST(DisassemblerRegisterList, RunsCrossFromDataToAddressRegisters) {
    const struct {
        uint16_t mask;
        const char* text;
    } cases[] = {{0x0000, ""},
                 {0x0001, "d0"},
                 {0x8000, "a7"},
                 {0xFFFF, "d0-a7"},
                 {0x03C0, "d6-a1"},
                 {0x8101, "d0/a0/a7"},
                 {0x5555, "d0/d2/d4/d6/a0/a2/a4/a6"},
                 {0x6666, "d1-d2/d5-d6/a1-a2/a5-a6"}};
    for (const auto& c : cases) {
        char text[64];
        FormatRegisterList(c.mask, text);
        EXPECT_STREQ(text, c.text) << std::hex << c.mask;
    }
}

TEST(DisassemblerBackward, FindsTheInstructionThatEndsAtTheAddress) {
    const Buffer buffer = CasesBuffer();
    Disassembler disassembler = buffer.Make();
    const char* pairs[][2] = {
        {"c_index_neg", "c_movem_abs"}, {"c_ea_imm_w", "c_ea_imm_b"}, {"c_illegal", "c_nop"}};
    for (const auto& pair : pairs)
        EXPECT_EQ(disassembler.PreviousInstructionAddress(Cases().Symbol(pair[0])), Cases().Symbol(pair[1]))
            << pair[0];
    EXPECT_EQ(disassembler.NextInstructionAddress(Cases().Symbol("c_movem_abs")),
              Cases().Symbol("c_index_neg"));
}

TEST(DisassemblerUnmapped, ReadsAsAllOnesWords) {
    Disassembler nothing([](uint32_t) { return 0xFFFFFFFFu; });
    nothing.SetAddress(0xFFFFFE);
    EXPECT_STREQ(nothing.DisassembleOne(), "dc.w    $FFFF");
    EXPECT_EQ(nothing.GetAddress(), 0x1000000u);
    // An instruction cut off by the end of memory takes its missing words as all ones.
    const Buffer tail{0x3FFFE, {0x20, 0x3C}};
    Disassembler cut = tail.Make();
    cut.SetAddress(0x3FFFE);
    EXPECT_STREQ(cut.DisassembleOne(), "move.l  #$FFFFFFFF,d0");
    EXPECT_EQ(cut.LastLength(), 6u);
}

// objdump's view of one instruction: where it starts, its text, whether it is one at all.
struct ObjdumpInstruction {
    uint32_t address;
    bool valid;
    std::string text;
};

bool ObjdumpInstalled() {
    return std::system("m68k-linux-gnu-objdump --version >/dev/null 2>&1") == 0;
}

std::vector<ObjdumpInstruction> RunObjdump(const std::vector<uint8_t>& bytes, const std::string& name) {
    const std::string path = testing::TempDir() + std::to_string(getpid()) + "-" + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const std::string command =
        "m68k-linux-gnu-objdump -D -z -b binary -m m68k:68000 --insn-width=10 '" + path + "' 2>/dev/null";
    std::vector<ObjdumpInstruction> result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        // "   1a:\t4e71                \tnop"
        char* end;
        const unsigned long address = std::strtoul(line, &end, 16);
        if (end == line || *end != ':' || end[1] != '\t') continue;
        const char* text = std::strchr(end + 2, '\t');
        if (!text) continue;
        std::string instruction(text + 1);
        while (!instruction.empty() && (instruction.back() == '\n' || instruction.back() == ' '))
            instruction.pop_back();
        result.push_back({static_cast<uint32_t>(address), instruction.rfind(".short", 0) != 0, instruction});
    }
    pclose(pipe);
    std::remove(path.c_str());
    return result;
}

// Where objdump and the 68000 part ways. Every disagreement about validity must fall in one.
struct KnownDifference {
    uint16_t mask, value;
    const char* why;
};
constexpr KnownDifference kObjdumpDifferences[] = {
    {0xFFC0, 0x42C0, "move from ccr is a 68010 instruction"},
    {0xFFFF, 0x4E74, "rtd is a 68010 instruction"},
    {0xFFFE, 0x4E7A, "movec is a 68010 instruction"},
    {0xF000, 0xF000, "line F: objdump decodes coprocessor instructions, which the 68000 traps"},
    {0xF1F8, 0x5108, "subq.b to an address register: objdump takes it, the 68000 does not"},
    {0xFFFF, 0x4AFD, "objdump's switch-table marker swbegl, an illegal opcode"},
};

// Compares instruction boundaries with objdump at every address where objdump starts an
// instruction, over `bytes` placed at 0.
void ExpectObjdumpAgrees(const std::vector<uint8_t>& bytes, const std::string& name) {
    if (!ObjdumpInstalled()) GTEST_SKIP() << "m68k-linux-gnu-objdump is not installed";
    const std::vector<ObjdumpInstruction> listing = RunObjdump(bytes, name);
    ASSERT_GT(listing.size(), bytes.size() / 10);
    const Buffer buffer{0, bytes};
    Disassembler disassembler = buffer.Make();
    size_t compared = 0, failures = 0, fullFormatIndex = 0;
    for (size_t i = 0; i + 1 < listing.size(); ++i) {
        const ObjdumpInstruction& theirs = listing[i];
        if (theirs.address + 10 > bytes.size()) break;
        const uint32_t theirLength = listing[i + 1].address - theirs.address;
        disassembler.SetAddress(theirs.address);
        const std::string ours = disassembler.DisassembleOne();
        const uint32_t ourLength = disassembler.LastLength();
        ASSERT_TRUE(ourLength >= 2 && ourLength <= 10 && ourLength % 2 == 0) << ours;
        const uint16_t opcode = static_cast<uint16_t>(buffer.Read(theirs.address));
        if (disassembler.LastHadFullFormatIndex()) {
            ++fullFormatIndex;  // objdump reads the 68020 formats here
            continue;
        }
        bool agrees = theirs.valid == disassembler.LastDefined();
        if (theirs.valid && disassembler.LastDefined()) {
            ++compared;
            agrees = ourLength == theirLength;
        } else {
            for (const KnownDifference& known : kObjdumpDifferences)
                if ((opcode & known.mask) == known.value) agrees = true;
        }
        if (!agrees && ++failures <= 20) {
            ADD_FAILURE() << std::hex << "at $" << theirs.address << ", opcode $" << opcode << ": ours \""
                          << ours << "\" (" << ourLength << " bytes), objdump \"" << theirs.text << "\" ("
                          << theirLength << " bytes)";
        }
    }
    EXPECT_EQ(failures, 0u);
    EXPECT_GT(compared, listing.size() / 2);
    std::printf("compared %zu instructions with objdump, %zu with a full-format index skipped\n", compared,
                fullFormatIndex);
}

TEST(DisassemblerObjdump, AgreesOnRandomBytes) {
    std::mt19937 random(
        68000);  // the standard fixes mt19937's sequence, so the stream is the same everywhere
    std::vector<uint8_t> bytes(1 << 20);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random() >> 24);
    ExpectObjdumpAgrees(bytes, "disassembler-random.bin");
}

TEST(DisassemblerObjdump, AgreesOnTheBundledRom) {
    std::ifstream file(VEXIL_EMUTOS, std::ios::binary);
    const std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(file), {});
    ASSERT_EQ(bytes.size(), 0x40000u);
    ExpectObjdumpAgrees(bytes, "disassembler-rom.bin");
}

}  // namespace
}  // namespace vexil
