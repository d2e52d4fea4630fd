| The arithmetic instructions in a loop of 10000 turns of 18 instructions, for
| ArithmeticBench.cpp. It stops at "done".
        .text
        .globl  _start
_start:
        move.w  #9999, d7
        movea.l #0x4000, a0
        moveq   #5, d6
        move.l  #0x12345678, d0
loop:
        add.l   d0, d1
        add.w   (a0), d2
        sub.l   d1, d3
        cmp.w   d2, d3
        addq.l  #1, d4
        subq.w  #1, d5
        addi.l  #0x1000, d1
        cmpi.b  #5, d6
        add.w   d1, (a0)
        addx.l  d0, d3
        neg.w   d5
        tst.l   d1
        clr.w   d2
        adda.w  #4, a1
        cmpa.l  a0, a1
        abcd    d6, d4
        mulu.w  d6, d2
        dbra    d7, loop
done:
        stop    #0x2700
