// Expands the rows of the opcode chart into the 65536-entry table. Only Dispatch.cpp, which
// lists the rows, includes this file.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>

#include "cpu/Dispatch.h"

namespace vexil {

using HandlerGrid = OpcodeHandler[3][kModeCount][kModeCount];

constexpr int SizeIndex(Size s) {
    return s == kByte ? 0 : s == kWord ? 1 : 2;
}
constexpr uint32_t kB = kByte, kW = kWord, kL = kLong;
constexpr uint32_t kBW = kB | kW, kWL = kW | kL, kBWL = kB | kW | kL;

// Instantiates F::Run<S, M, D> for every allowed combination.
template <typename F, uint32_t Sizes, uint32_t Modes, uint32_t DModes>
struct GridFiller {
    static void Fill(HandlerGrid& g) {
        FillSize<kByte>(g);
        FillSize<kWord>(g);
        FillSize<kLong>(g);
    }
    template <Size S>
    static void FillSize(HandlerGrid& g) {
        if constexpr ((Sizes & S) != 0) FillModes<S>(g, std::make_index_sequence<kModeCount>{});
    }
    template <Size S, size_t... M>
    static void FillModes(HandlerGrid& g, std::index_sequence<M...>) {
        (FillMode<S, static_cast<Mode>(M)>(g), ...);
    }
    template <Size S, Mode M>
    static void FillMode(HandlerGrid& g) {
        if constexpr ((Modes & Bit(M)) != 0) FillDests<S, M>(g, std::make_index_sequence<kModeCount>{});
    }
    template <Size S, Mode M, size_t... D>
    static void FillDests(HandlerGrid& g, std::index_sequence<D...>) {
        (FillDest<S, M, static_cast<Mode>(D)>(g), ...);
    }
    template <Size S, Mode M, Mode D>
    static void FillDest(HandlerGrid& g) {
        if constexpr ((DModes & Bit(D)) != 0) g[SizeIndex(S)][M][D] = &F::template Run<S, M, D>;
    }
};

// Claims, for every opcode the pattern matches and whose size and modes are allowed, the
// handler from the grid. Opcodes claimed by an earlier row keep their handler.
void ClaimOpcodes(std::string_view pattern, const char* family, const HandlerGrid& grid, uint32_t sizes,
                  uint32_t modes, uint32_t destModes);

template <typename F, uint32_t Sizes = kW, uint32_t Modes = kNoModes, uint32_t DModes = kNoModes>
void Row(std::string_view pattern, const char* family) {
    HandlerGrid grid{};  // null where the row allows no such size or mode
    GridFiller<F, Sizes, Modes, DModes>::Fill(grid);
    ClaimOpcodes(pattern, family, grid, Sizes, Modes, DModes);
}

// Rows whose opcodes carry a condition in bits 11-8: F is a struct with
// `template <unsigned Cc> static void Run(uint32_t)`, instantiated for all sixteen conditions.
void ClaimConditionOpcodes(std::string_view pattern, const char* family, const OpcodeHandler (&handlers)[16]);

template <typename F>
void ConditionRow(std::string_view pattern, const char* family) {
    static const OpcodeHandler handlers[16] = {
        &F::template Run<0>,  &F::template Run<1>,  &F::template Run<2>,  &F::template Run<3>,
        &F::template Run<4>,  &F::template Run<5>,  &F::template Run<6>,  &F::template Run<7>,
        &F::template Run<8>,  &F::template Run<9>,  &F::template Run<10>, &F::template Run<11>,
        &F::template Run<12>, &F::template Run<13>, &F::template Run<14>, &F::template Run<15>};
    ClaimConditionOpcodes(pattern, family, handlers);
}

// The rows of each instruction group (cpu/ops/*.cpp).
void AddMoveRows();
void AddArithmeticRows();
void AddLogicRows();
void AddShiftBitRows();
void AddBranchRows();
void AddSystemRows();

}  // namespace vexil
