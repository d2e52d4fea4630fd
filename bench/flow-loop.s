| Program flow in a loop of 10000 turns of 9 instructions, for FlowBench.cpp: calls and
| returns, taken and untaken branches, a jump and the DBRA. It stops at "done".
        .text
        .globl  _start
_start:
        move.w  #9999, d7
        lea     subroutine(pc), a0
loop:
        bsr.s   subroutine
        jsr     (a0)
        moveq   #0, d0
        beq.s   taken
        nop
taken:
        bne.s   done
        jmp     jumped(pc)
jumped:
        dbra    d7, loop
done:
        stop    #0x2700
subroutine:
        rts
