#include "debugger/Disassembler.h"

#include <cstdarg>
#include <cstdio>

namespace vexil {

namespace {

// Addressing-mode kinds, one bit each, as the 68000 manual groups them.
enum : unsigned {
    kDn = 1u << 0,
    kAn = 1u << 1,
    kIndirect = 1u << 2,
    kPostIncrement = 1u << 3,
    kPreDecrement = 1u << 4,
    kDisplacement = 1u << 5,
    kIndexed = 1u << 6,
    kAbsoluteShort = 1u << 7,
    kAbsoluteLong = 1u << 8,
    kPcDisplacement = 1u << 9,
    kPcIndexed = 1u << 10,
    kImmediate = 1u << 11,
};
constexpr unsigned kAll = 0xFFF;
constexpr unsigned kData = kAll & ~kAn;
constexpr unsigned kControl =
    kIndirect | kDisplacement | kIndexed | kAbsoluteShort | kAbsoluteLong | kPcDisplacement | kPcIndexed;
constexpr unsigned kAlterable = kAll & ~(kPcDisplacement | kPcIndexed | kImmediate);
constexpr unsigned kDataAlterable = kAlterable & ~kAn;
constexpr unsigned kMemoryAlterable = kDataAlterable & ~kDn;
constexpr unsigned kControlAlterable = kControl & kAlterable;

constexpr unsigned kByte = 1, kWord = 2, kLong = 4;
constexpr unsigned kSizeBytes[3] = {kByte, kWord, kLong};  // by the usual size field, 0..2

constexpr const char* kBitNames[4] = {"btst", "bchg", "bclr", "bset"};
constexpr const char* kConditions[16] = {"t",  "f",  "hi", "ls", "cc", "cs", "ne", "eq",
                                         "vc", "vs", "pl", "mi", "ge", "lt", "gt", "le"};

unsigned ModeBit(unsigned field) {
    const unsigned mode = field >> 3, reg = field & 7;
    if (mode < 7) return 1u << mode;
    return reg < 5 ? 1u << (7 + reg) : 0;
}

char Sign(int32_t value) {
    return value < 0 ? '-' : '+';
}
uint32_t Magnitude(int32_t value) {
    return value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
}

}  // namespace

// Opcode bits 15..6 to group routine; the first row that matches wins.
constexpr std::array<Disassembler::Routine, 1024> Disassembler::BuildGroupTable() {
    using D = Disassembler;
    constexpr Row kRows[] = {
        {"0000 ---1 --", &D::BitDynamic},  // movep on EA mode 1
        {"0000 1000 --", &D::BitStatic},
        {"0000 ---0 --", &D::ImmediateToEa},
        {"0001 ---- --", &D::Move},
        {"001- ---- --", &D::Move},
        {"0100 0--0 11", &D::StatusMove},     // move from sr, from ccr, to ccr, to sr
        {"0100 0--0 --", &D::SingleOperand},  // negx clr neg not
        {"0100 1010 11", &D::TasOrIllegal},
        {"0100 1010 --", &D::SingleOperand},  // tst
        {"0100 ---1 10", &D::Chk},
        {"0100 ---1 11", &D::Lea},
        {"0100 1000 00", &D::Nbcd},
        {"0100 1000 01", &D::PeaOrSwap},
        {"0100 1000 1-", &D::MovemToMemory},  // ext on EA mode 0
        {"0100 1100 1-", &D::MovemFromMemory},
        {"0100 1110 01", &D::Control},  // trap link unlk move usp reset ... movec
        {"0100 1110 1-", &D::JumpOrCall},
        {"0101 ---- 11", &D::SetOrDecrement},
        {"0101 ---- --", &D::AddqSubq},
        {"0110 ---- --", &D::Branch},
        {"0111 ---0 --", &D::Moveq},
        {"1000 ---- 11", &D::MulDiv},  // divu divs
        {"1100 ---- 11", &D::MulDiv},  // mulu muls
        {"1001 ---- 11", &D::AddressArithmetic},
        {"1011 ---- 11", &D::AddressArithmetic},
        {"1101 ---- 11", &D::AddressArithmetic},
        {"1000 ---- --", &D::Dyadic},
        {"1001 ---- --", &D::Dyadic},
        {"1011 ---- --", &D::Dyadic},
        {"1100 ---- --", &D::Dyadic},
        {"1101 ---- --", &D::Dyadic},
        {"1110 0--- 11", &D::ShiftMemory},
        {"1110 ---- --", &D::ShiftRegister},
    };
    std::array<Routine, 1024> table{};
    for (unsigned index = 0; index < 1024; ++index) {
        table[index] = &D::Undefined;
        for (const Row& row : kRows) {
            unsigned bit = 10;
            bool match = true;
            for (const char* p = row.pattern; *p; ++p) {
                if (*p == ' ') continue;
                --bit;
                const unsigned value = (index >> bit) & 1;
                if ((*p == '0' && value != 0) || (*p == '1' && value != 1)) match = false;
            }
            if (match) {
                table[index] = row.routine;
                break;
            }
        }
    }
    return table;
}

// Built by the compiler: no start-up work, and usable from other static initialisers.
constinit const std::array<Disassembler::Routine, 1024> Disassembler::kGroups =
    Disassembler::BuildGroupTable();

const char* Disassembler::DisassembleOne() {
    start_ = address_;
    defined_ = true;
    fullFormatIndex_ = false;
    line_[0] = '\0';
    const uint16_t opcode = Fetch();
    (this->*kGroups[opcode >> 6])(opcode);
    return line_;
}

uint32_t Disassembler::NextInstructionAddress(uint32_t address) {
    SetAddress(address);
    DisassembleOne();
    return GetAddress();
}

uint32_t Disassembler::PreviousInstructionAddress(uint32_t address) {
    for (uint32_t back = 2; back <= 40; back += 2) {
        const uint32_t from = address - back;
        SetAddress(from);
        uint32_t last = from;
        while (address_ - from < back) {
            last = address_;
            DisassembleOne();
        }
        if (address_ - from == back) return last;
    }
    return address - 2;
}

uint16_t Disassembler::Fetch() {
    const uint16_t word = static_cast<uint16_t>(read_(address_));
    address_ += 2;
    return word;
}

bool Disassembler::Allows(unsigned field, unsigned modes) const {
    return (ModeBit(field) & modes) != 0;
}

uint32_t Disassembler::FetchImmediate(unsigned size) {
    if (size == kByte) return Fetch() & 0xFF;
    if (size == kWord) return Fetch();
    const uint32_t high = Fetch();
    return high << 16 | Fetch();
}

void Disassembler::FormatEa(unsigned field, unsigned size, Operand& out) {
    const unsigned reg = field & 7;
    switch (field >> 3) {
        case 0:
            std::snprintf(out, sizeof out, "d%u", reg);
            return;
        case 1:
            std::snprintf(out, sizeof out, "a%u", reg);
            return;
        case 2:
            std::snprintf(out, sizeof out, "(a%u)", reg);
            return;
        case 3:
            std::snprintf(out, sizeof out, "(a%u)+", reg);
            return;
        case 4:
            std::snprintf(out, sizeof out, "-(a%u)", reg);
            return;
        case 5: {
            const int32_t displacement = static_cast<int16_t>(Fetch());
            std::snprintf(out, sizeof out, "%c$%X(a%u)", Sign(displacement), Magnitude(displacement), reg);
            return;
        }
        case 6: {
            const uint16_t extension = Fetch();
            const int32_t displacement = static_cast<int8_t>(extension & 0xFF);
            if (extension & 0x0100) fullFormatIndex_ = true;
            std::snprintf(out, sizeof out, "%c$%X(a%u,%c%u.%c)", Sign(displacement), Magnitude(displacement),
                          reg, extension & 0x8000 ? 'a' : 'd', (extension >> 12) & 7u,
                          extension & 0x0800 ? 'l' : 'w');
            return;
        }
    }
    switch (reg) {
        case 0: {
            const uint16_t word = Fetch();
            std::snprintf(out, sizeof out, "$%s%X.W", word & 0x8000 ? "FFFF" : "", word);
            return;
        }
        case 1:
            std::snprintf(out, sizeof out, "$%X", FetchImmediate(kLong));
            return;
        case 2: {
            const uint32_t base = address_;  // the extension word's own address
            const uint32_t target = base + static_cast<uint32_t>(static_cast<int16_t>(Fetch()));
            std::snprintf(out, sizeof out, "$%X(pc)", target);
            return;
        }
        case 3: {
            const uint32_t base = address_;
            const uint16_t extension = Fetch();
            if (extension & 0x0100) fullFormatIndex_ = true;
            const uint32_t target = base + static_cast<uint32_t>(static_cast<int8_t>(extension & 0xFF));
            std::snprintf(out, sizeof out, "$%X(pc,%c%u)", target, extension & 0x8000 ? 'a' : 'd',
                          (extension >> 12) & 7u);
            return;
        }
        case 4:
            std::snprintf(out, sizeof out, "#$%X", FetchImmediate(size));
            return;
        default:  // the routines turn these fields away before formatting
            std::snprintf(out, sizeof out, "????");
            return;
    }
}

void Disassembler::Emit(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(line_, sizeof line_, format, args);
    va_end(args);
}

void Disassembler::Undefined(uint16_t opcode) {
    address_ = start_ + 2;  // extension words that a routine already fetched are not part of it
    defined_ = false;
    fullFormatIndex_ = false;
    Emit("dc.w    $%X", opcode);
}

// ori andi subi addi eori cmpi: 0000 ooo0 ss eeeeee, immediate first, then the destination.
void Disassembler::ImmediateToEa(uint16_t opcode) {
    static constexpr const char* kNames[8][3] = {
        {"ori.b ", "ori.w ", "ori.l "}, {"andi.b", "andi.w", "andi.l"}, {"subi.b", "subi.w", "subi.l"},
        {"addi.b", "addi.w", "addi.l"}, {nullptr, nullptr, nullptr},    {"eori.b", "eori.w", "eori.l"},
        {"cmpi.b", "cmpi.w", "cmpi.l"}, {nullptr, nullptr, nullptr},
    };
    const unsigned kind = (opcode >> 9) & 7, sizeField = (opcode >> 6) & 3, field = opcode & 0x3F;
    if (sizeField == 3 || !kNames[kind][0]) return Undefined(opcode);
    const char* name = kNames[kind][sizeField];
    // ori, andi and eori to the condition codes (byte) or the whole status register (word).
    if (field == 0x3C && (kind == 0 || kind == 1 || kind == 5) && sizeField < 2) {
        const uint32_t value = FetchImmediate(kSizeBytes[sizeField]);
        return Emit("%s   #$%X,%s", name, value, sizeField == 0 ? "ccr" : "sr");
    }
    if (!Allows(field, kDataAlterable)) return Undefined(opcode);
    const uint32_t value = FetchImmediate(kSizeBytes[sizeField]);
    Operand destination;
    FormatEa(field, kSizeBytes[sizeField], destination);
    Emit("%s  #$%X,%s", name, value, destination);
}

// 0000 1000 oo eeeeee: bit number in the low byte of the extension word.
void Disassembler::BitStatic(uint16_t opcode) {
    const unsigned kind = (opcode >> 6) & 3, field = opcode & 0x3F;
    if (!Allows(field, kind == 0 ? kData & ~kImmediate : kDataAlterable)) return Undefined(opcode);
    const unsigned bit = Fetch() & 0xFF;
    Operand target;
    FormatEa(field, kByte, target);
    Emit("%s    #$%X,%s", kBitNames[kind], bit, target);
}

// 0000 rrr1 oo eeeeee: bit number in a data register; EA mode 1 is movep.
void Disassembler::BitDynamic(uint16_t opcode) {
    const unsigned kind = (opcode >> 6) & 3, field = opcode & 0x3F;
    if ((field >> 3) == 1) return Movep(opcode);
    if (!Allows(field, kind == 0 ? kData : kDataAlterable)) return Undefined(opcode);
    Operand target;
    FormatEa(field, kByte, target);
    Emit("%s    d%u,%s", kBitNames[kind], (opcode >> 9) & 7u, target);
}

// 0000 ddd1 ws 001 aaa: bit 7 register to memory, bit 6 long.
void Disassembler::Movep(uint16_t opcode) {
    const int32_t displacement = static_cast<int16_t>(Fetch());
    const unsigned an = opcode & 7, dn = (opcode >> 9) & 7;
    Operand memory;
    if (displacement == 0) {
        std::snprintf(memory, sizeof memory, "(a%u)", an);
    } else {
        std::snprintf(memory, sizeof memory, "%c$%X(a%u)", Sign(displacement), Magnitude(displacement), an);
    }
    const char* suffix = opcode & 0x40 ? ".l" : "  ";
    if (opcode & 0x80) return Emit("movep%s d%u,%s", suffix, dn, memory);
    Emit("movep%s %s,d%u", suffix, memory, dn);
}

// 00ss dddDDD ssssss: the destination field has its mode and register swapped.
void Disassembler::Move(uint16_t opcode) {
    const unsigned sizeField = (opcode >> 12) & 3;
    const unsigned size = sizeField == 1 ? kByte : sizeField == 3 ? kWord : kLong;
    const unsigned source = opcode & 0x3F;
    const unsigned destination = ((opcode >> 3) & 0x38) | ((opcode >> 9) & 7);
    const unsigned byteless = size == kByte ? ~kAn : ~0u;  // no byte moves from or to an address register
    if (!Allows(source, kAll & byteless) || !Allows(destination, kAlterable & byteless))
        return Undefined(opcode);
    Operand from, to;
    FormatEa(source, size, from);
    FormatEa(destination, size, to);
    Emit("%s  %s,%s", size == kByte ? "move.b" : size == kWord ? "move.w" : "move.l", from, to);
}

// negx clr neg not tst: 0100 ooo0 ss eeeeee.
void Disassembler::SingleOperand(uint16_t opcode) {
    static constexpr const char* kNames[6][3] = {
        {"negx.b", "negx.w", "negx.l"}, {"clr.b ", "clr.w ", "clr.l "}, {"neg.b ", "neg.w ", "neg.l "},
        {"not.b ", "not.w ", "not.l "}, {nullptr, nullptr, nullptr},    {"tst.b ", "tst.w ", "tst.l "},
    };
    const unsigned sizeField = (opcode >> 6) & 3, field = opcode & 0x3F;
    if (!Allows(field, kDataAlterable)) return Undefined(opcode);
    Operand operand;
    FormatEa(field, kSizeBytes[sizeField], operand);
    Emit("%s  %s", kNames[(opcode >> 9) & 7][sizeField], operand);
}

// 0100 0oo0 11 eeeeee: from sr, from ccr (68010), to ccr, to sr.
void Disassembler::StatusMove(uint16_t opcode) {
    const unsigned kind = (opcode >> 9) & 3, field = opcode & 0x3F;
    if (!Allows(field, kind < 2 ? kDataAlterable : kData)) return Undefined(opcode);
    Operand operand;
    FormatEa(field, kind == 2 ? kByte : kWord, operand);
    switch (kind) {
        case 0:
            return Emit("move.w  sr,%s", operand);
        case 1:
            return Emit("move.b  ccr,%s", operand);
        case 2:
            return Emit("move.b  %s,ccr", operand);
        default:
            return Emit("move.w  %s,sr", operand);
    }
}

void Disassembler::Chk(uint16_t opcode) {
    const unsigned field = opcode & 0x3F;
    if (!Allows(field, kData)) return Undefined(opcode);
    Operand bound;
    FormatEa(field, kWord, bound);
    Emit("chk     %s,d%u", bound, (opcode >> 9) & 7u);
}

void Disassembler::Lea(uint16_t opcode) {
    const unsigned field = opcode & 0x3F;
    if (!Allows(field, kControl)) return Undefined(opcode);
    Operand address;
    FormatEa(field, kLong, address);
    Emit("lea     %s,a%u", address, (opcode >> 9) & 7u);
}

void Disassembler::Nbcd(uint16_t opcode) {
    const unsigned field = opcode & 0x3F;
    if (!Allows(field, kDataAlterable)) return Undefined(opcode);
    Operand operand;
    FormatEa(field, kByte, operand);
    Emit("nbcd.b  %s", operand);
}

void Disassembler::PeaOrSwap(uint16_t opcode) {
    const unsigned field = opcode & 0x3F;
    if ((field >> 3) == 0) return Emit("swap    d%u", field & 7);
    if (!Allows(field, kControl)) return Undefined(opcode);
    Operand address;
    FormatEa(field, kLong, address);
    Emit("pea     %s", address);
}

// 0100 1000 1s eeeeee: ext on EA mode 0; the mask word comes before the EA's own words.
void Disassembler::MovemToMemory(uint16_t opcode) {
    const bool isLong = opcode & 0x40;
    const unsigned field = opcode & 0x3F;
    if ((field >> 3) == 0) return Emit(isLong ? "ext.l   d%u" : "ext.w   d%u", field & 7);
    if (!Allows(field, kControlAlterable | kPreDecrement)) return Undefined(opcode);
    uint16_t mask = Fetch();
    char list[64];
    if ((field >> 3) == 4) {
        // The predecrement form stores a7 first, so its mask runs from a7 (bit 0) to d0 (bit 15).
        uint16_t reversed = 0;
        for (unsigned bit = 0; bit < 16; ++bit)
            if (mask & (1u << bit)) reversed |= static_cast<uint16_t>(0x8000u >> bit);
        FormatRegisterList(reversed, list);
        return Emit(isLong ? "movem.l %s,-(a%u)" : "movem.w %s,-(a%u)", list, field & 7);
    }
    FormatRegisterList(mask, list);
    Operand destination;
    FormatEa(field, isLong ? kLong : kWord, destination);
    Emit(isLong ? "movem.l %s,%s" : "movem.w %s,%s", list, destination);
}

void Disassembler::MovemFromMemory(uint16_t opcode) {
    const bool isLong = opcode & 0x40;
    const unsigned field = opcode & 0x3F;
    if (!Allows(field, kControl | kPostIncrement)) return Undefined(opcode);
    char list[64];
    FormatRegisterList(Fetch(), list);
    Operand source;
    FormatEa(field, isLong ? kLong : kWord, source);
    Emit(isLong ? "movem.l %s,%s" : "movem.w %s,%s", source, list);
}

void Disassembler::TasOrIllegal(uint16_t opcode) {
    if (opcode == 0x4AFC) return Emit("illegal");
    const unsigned field = opcode & 0x3F;
    if (!Allows(field, kDataAlterable)) return Undefined(opcode);
    Operand operand;
    FormatEa(field, kByte, operand);
    Emit("tas     %s", operand);
}

// 0x4E40-0x4E7F, by the low six bits.
void Disassembler::Control(uint16_t opcode) {
    const unsigned low = opcode & 0x3F, reg = opcode & 7;
    switch (low >> 3) {
        case 0:
        case 1:
            return Emit("trap    #%u", low & 15);
        case 2: {
            const int32_t displacement = static_cast<int16_t>(Fetch());
            return Emit("link    a%u,%c#$%X", reg, Sign(displacement), Magnitude(displacement));
        }
        case 3:
            return Emit("unlk    a%u", reg);
        case 4:
            return Emit("move.l  a%u,usp", reg);
        case 5:
            return Emit("move.l  usp,a%u", reg);
        case 6: {
            switch (reg) {
                case 0:
                    return Emit("reset");
                case 1:
                    return Emit("nop");
                case 2:
                    return Emit("stop    #$%4X", Fetch());
                case 3:
                    return Emit("rte");
                case 4: {  // 68010
                    const int32_t displacement = static_cast<int16_t>(Fetch());
                    return Emit("rtd     %c#$%X", Sign(displacement), Magnitude(displacement));
                }
                case 5:
                    return Emit("rts");
                case 6:
                    return Emit("trapv");
                default:
                    return Emit("rtr");
            }
        }
    }
    if (low != 0x3A && low != 0x3B) return Undefined(opcode);
    // movec (68010): control register in the low 12 bits, general register in bits 15..12.
    const uint16_t extension = Fetch();
    const char* control = "???";
    switch (extension & 0xFFF) {
        case 0x000:
            control = "sfc";
            break;
        case 0x001:
            control = "dfc";
            break;
        case 0x800:
            control = "usp";
            break;
        case 0x801:
            control = "vbr";
            break;
    }
    const char kind = extension & 0x8000 ? 'a' : 'd';
    const unsigned number = (extension >> 12) & 7;
    if (low == 0x3A) return Emit("movec   %s,%c%u", control, kind, number);
    Emit("movec   %c%u,%s", kind, number, control);
}

void Disassembler::JumpOrCall(uint16_t opcode) {
    const unsigned field = opcode & 0x3F;
    if (!Allows(field, kControl)) return Undefined(opcode);
    Operand target;
    FormatEa(field, kLong, target);
    Emit(opcode & 0x40 ? "jmp     %s" : "jsr     %s", target);
}

// 0101 qqqd ss eeeeee.
void Disassembler::AddqSubq(uint16_t opcode) {
    static constexpr const char* kNames[2][3] = {{"addq.b", "addq.w", "addq.l"},
                                                 {"subq.b", "subq.w", "subq.l"}};
    const unsigned sizeField = (opcode >> 6) & 3, field = opcode & 0x3F;
    if (!Allows(field, sizeField == 0 ? kDataAlterable : kAlterable)) return Undefined(opcode);
    const unsigned count = (opcode >> 9) & 7;
    Operand target;
    FormatEa(field, kSizeBytes[sizeField], target);
    Emit("%s  #%u,%s", kNames[(opcode >> 8) & 1][sizeField], count == 0 ? 8 : count, target);
}

// 0101 cccc 11 eeeeee: Scc, or DBcc on EA mode 1.
void Disassembler::SetOrDecrement(uint16_t opcode) {
    const unsigned condition = (opcode >> 8) & 15, field = opcode & 0x3F;
    char name[8];
    if ((field >> 3) == 1) {
        const uint32_t base = address_;  // the displacement word's own address
        const uint32_t target = base + static_cast<uint32_t>(static_cast<int16_t>(Fetch()));
        std::snprintf(name, sizeof name, "db%-2s", condition == 1 ? "ra" : kConditions[condition]);
        return Emit("%s    d%u,$%X", name, field & 7, target);
    }
    if (!Allows(field, kDataAlterable)) return Undefined(opcode);
    Operand target;
    FormatEa(field, kByte, target);
    std::snprintf(name, sizeof name, "s%-2s", kConditions[condition]);
    Emit("%s     %s", name, target);
}

// 0110 cccc dddddddd: a zero 8-bit displacement means a displacement word follows.
void Disassembler::Branch(uint16_t opcode) {
    const unsigned condition = (opcode >> 8) & 15;
    const char* name = condition == 0 ? "bra" : condition == 1 ? "bsr" : nullptr;
    char conditional[4];
    if (!name) {
        std::snprintf(conditional, sizeof conditional, "b%s", kConditions[condition]);
        name = conditional;
    }
    const uint32_t base = address_;  // the address after the opcode word
    const int32_t shortDisplacement = static_cast<int8_t>(opcode & 0xFF);
    if (shortDisplacement != 0) {
        const uint32_t target = base + static_cast<uint32_t>(shortDisplacement);
        if (condition == 1) return Emit("%s     $%X", name, target);
        return Emit("%s.s   $%X", name, target);
    }
    const uint32_t target = base + static_cast<uint32_t>(static_cast<int16_t>(Fetch()));
    Emit("%s     $%X", name, target);
}

void Disassembler::Moveq(uint16_t opcode) {
    Emit("moveq   #$%X,d%u", opcode & 0xFFu, (opcode >> 9) & 7u);
}

// Lines 8 (or), 9 (sub), B (cmp, eor), C (and), D (add) with sizes 0..2: 1lll rrrd ss eeeeee.
void Disassembler::Dyadic(uint16_t opcode) {
    static constexpr const char* kNames[16][3] = {
        {},
        {},
        {},
        {},
        {},
        {},
        {},
        {},
        {"or.b ", "or.w ", "or.l "},
        {"sub.b", "sub.w", "sub.l"},
        {},
        {"cmp.b", "cmp.w", "cmp.l"},
        {"and.b", "and.w", "and.l"},
        {"add.b", "add.w", "add.l"},
        {},
        {},
    };
    const unsigned line = opcode >> 12, sizeField = (opcode >> 6) & 3, field = opcode & 0x3F;
    const unsigned dn = (opcode >> 9) & 7, size = kSizeBytes[sizeField];
    const bool logical = line == 0x8 || line == 0xC;
    Operand operand;
    if ((opcode & 0x100) == 0) {  // EA to register
        unsigned modes = logical ? kData : kAll;
        if (size == kByte) modes &= ~kAn;
        if (!Allows(field, modes)) return Undefined(opcode);
        FormatEa(field, size, operand);
        return Emit("%s   %s,d%u", kNames[line][sizeField], operand, dn);
    }
    if (line == 0xB) {  // eor, or cmpm on EA mode 1
        if ((field >> 3) == 1) {
            static constexpr const char* kCmpm[3] = {"cmpm.b", "cmpm.w", "cmpm.l"};
            return Emit("%s  (a%u)+,(a%u)+", kCmpm[sizeField], field & 7, dn);
        }
        if (!Allows(field, kDataAlterable)) return Undefined(opcode);
        static constexpr const char* kEor[3] = {"eor.b", "eor.w", "eor.l"};
        FormatEa(field, size, operand);
        return Emit("%s   d%u,%s", kEor[sizeField], dn, operand);
    }
    if ((field >> 3) <= 1) return ExtendedOrExg(opcode);
    if (!Allows(field, kMemoryAlterable)) return Undefined(opcode);
    FormatEa(field, size, operand);
    Emit("%s   d%u,%s", kNames[line][sizeField], dn, operand);
}

// Register-to-EA forms on EA mode 0 or 1: abcd sbcd addx subx exg.
void Disassembler::ExtendedOrExg(uint16_t opcode) {
    const unsigned line = opcode >> 12, sizeField = (opcode >> 6) & 3;
    const unsigned rx = (opcode >> 9) & 7, ry = opcode & 7;
    const bool memory = opcode & 8;
    if (line == 0x9 || line == 0xD) {
        static constexpr const char* kNames[2][3] = {{"subx.b", "subx.w", "subx.l"},
                                                     {"addx.b", "addx.w", "addx.l"}};
        const char* name = kNames[line == 0xD][sizeField];
        if (memory) return Emit("%s  -(a%u),-(a%u)", name, ry, rx);
        return Emit("%s  d%u,d%u", name, ry, rx);
    }
    if (sizeField == 0) {
        const char* name = line == 0x8 ? "sbcd" : "abcd";
        if (memory) return Emit("%s    -(a%u),-(a%u)", name, ry, rx);
        return Emit("%s    d%u,d%u", name, ry, rx);
    }
    if (line == 0xC) {  // exg: opmode 01000 data, 01001 address, 10001 data and address
        if (sizeField == 1) return Emit("exg     %c%u,%c%u", memory ? 'a' : 'd', rx, memory ? 'a' : 'd', ry);
        if (memory) return Emit("exg     d%u,a%u", rx, ry);
    }
    Undefined(opcode);
}

// 1lll rrro 11 eeeeee on lines 8 and C: divu divs mulu muls, word-sized source.
void Disassembler::MulDiv(uint16_t opcode) {
    const unsigned field = opcode & 0x3F;
    if (!Allows(field, kData)) return Undefined(opcode);
    const bool isSigned = opcode & 0x100;
    const char* name = (opcode >> 12) == 0x8 ? (isSigned ? "divs" : "divu") : (isSigned ? "muls" : "mulu");
    Operand source;
    FormatEa(field, kWord, source);
    Emit("%s    %s,d%u", name, source, (opcode >> 9) & 7u);
}

// 1lll rrrs 11 eeeeee on lines 9, B and D: suba cmpa adda.
void Disassembler::AddressArithmetic(uint16_t opcode) {
    const bool isLong = opcode & 0x100;
    const unsigned line = opcode >> 12, field = opcode & 0x3F;
    const char* kind = line == 0x9 ? "suba" : line == 0xB ? "cmpa" : "adda";
    if (!Allows(field, kAll)) return Undefined(opcode);
    Operand source;
    FormatEa(field, isLong ? kLong : kWord, source);
    Emit("%s.%c  %s,a%u", kind, isLong ? 'l' : 'w', source, (opcode >> 9) & 7u);
}

// 1110 cccd ss i tt rrr: count register (i set) or immediate count, 0 meaning 8.
void Disassembler::ShiftRegister(uint16_t opcode) {
    static constexpr const char* kSuffixes[2][3] = {{"r.b", "r.w", "r.l"}, {"l.b", "l.w", "l.l"}};
    const unsigned sizeField = (opcode >> 6) & 3;
    if (sizeField == 3) return Undefined(opcode);  // bit-field instructions of later processors
    const unsigned count = (opcode >> 9) & 7;
    Operand operands;
    if (opcode & 0x20) {
        std::snprintf(operands, sizeof operands, "d%u,d%u", count, opcode & 7u);
    } else {
        std::snprintf(operands, sizeof operands, "#$%X,d%u", count == 0 ? 8 : count, opcode & 7u);
    }
    const char* suffix = kSuffixes[(opcode >> 8) & 1][sizeField];
    switch ((opcode >> 3) & 3) {
        case 0:
            return Emit("as%s   %s", suffix, operands);
        case 1:
            return Emit("ls%s   %s", suffix, operands);
        case 2:
            return Emit("rox%s  %s", suffix, operands);
        default:
            return Emit("ro%s   %s", suffix, operands);
    }
}

// 1110 0ttd 11 eeeeee: shift or rotate a memory word by one.
void Disassembler::ShiftMemory(uint16_t opcode) {
    static constexpr const char* kNames[8] = {"asr ", "asl ", "lsr ", "lsl ", "roxr", "roxl", "ror ", "rol "};
    const unsigned field = opcode & 0x3F;
    if (!Allows(field, kMemoryAlterable)) return Undefined(opcode);
    Operand operand;
    FormatEa(field, kWord, operand);
    Emit("%s    %s", kNames[(opcode >> 8) & 7], operand);
}

void FormatRegisterList(uint16_t mask, char* out) {
    static constexpr char kRegisterNames[] = "d0d1d2d3d4d5d6d7a0a1a2a3a4a5a6a7";
    char* p = out;
    unsigned bit = 0;
    while (bit < 16) {
        if (!(mask & (1u << bit))) {
            ++bit;
            continue;
        }
        unsigned last = bit;
        while (last + 1 < 16 && (mask & (1u << (last + 1)))) ++last;
        if (p != out) *p++ = '/';
        *p++ = kRegisterNames[2 * bit];
        *p++ = kRegisterNames[2 * bit + 1];
        if (last > bit) {
            *p++ = '-';
            *p++ = kRegisterNames[2 * last];
            *p++ = kRegisterNames[2 * last + 1];
        }
        bit = last + 1;
    }
    *p = '\0';
}

}  // namespace vexil
