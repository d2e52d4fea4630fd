| The logic, shift and bit instructions in a loop of 10000 turns of 17 instructions, for
| LogicShiftBitBench.cpp. It stops at "done".
        .text
        .globl  _start
_start:
        move.w  #9999, d7
        movea.l #0x4000, a0
        moveq   #5, d6
        move.l  #0x12345678, d0
loop:
        and.l   d0, d1
        or.w    (a0), d2
        eor.l   d2, d3
        not.b   d4
        andi.w  #0x0ff0, d1
        ori.l   #0x00010001, d5
        and.w   d1, (a0)
        lsl.l   #3, d0
        asr.w   d6, d2
        roxl.l  #1, d3
        ror.b   d6, d4
        lsr.w   (a0)
        btst    d6, d0
        bset    #3, d1
        bchg    d6, (a0)
        bclr    #31, d5
        dbra    d7, loop
done:
        stop    #0x2700
