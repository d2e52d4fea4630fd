| Programs for the debugger's commands, one entry point each. The test starts the machine at
| an entry, works the debugger page and reads the registers and the labels at the end.
        .equ    MFP, 0xFFFA00
        .equ    IERA, MFP+0x07
        .equ    IMRA, MFP+0x13
        .equ    VR, MFP+0x17
        .equ    TBCR, MFP+0x1B
        .equ    TBDR, MFP+0x21

        .text
        .globl  _start
_start:

| A loop with a breakpoint place: d1 counts the turns, the instruction at bp_here stores it.
loop:
        moveq   #0, d1
1:      addq.l  #1, d1
bp_here:
        move.l  d1, counter
        bra.s   1b

| The instructions step over treats: calls run to the next instruction, the rest step.
calls:
        moveq   #0, d2
        move.l  #trap_handler, 0x80.w   | TRAP #0
call_jsr:
        jsr     sub
after_jsr:
call_bsr:
        bsr     sub
after_bsr:
        moveq   #2, d4
call_dbra:
        dbra    d4, call_dbra
after_dbra:
call_trap:
        trap    #0
after_trap:
call_bra:
        bra.s   bra_target
        nop
bra_target:
call_moveq:
        moveq   #9, d5
after_moveq:
        bra.s   after_moveq

sub:
        addq.l  #1, d2
        bsr.s   inner
        rts
inner:
        addq.l  #1, d2
        rts
trap_handler:
        addq.l  #1, d3
        rte

| Skip and memory edits against a word the processor captured before its write: the OR
| writes the word after it, so the 68000 runs the opcode it had already fetched.
prefetch:
        lea     victim, a0
        moveq   #0, d0
        or.w    d0, (a0)
victim:
        moveq   #1, d6
        moveq   #2, d7
        move.l  #0x12345678, d5
after_long:
        bra.s   after_long

| Interrupts: timer B counts display lines and interrupts at each, the VBL is unmasked at
| IPL 3 and the HBL is not. The handlers count.
interrupts:
        move.l  #hbl, 0x68.w
        move.l  #vbl, 0x70.w
        move.l  #timer_b, 0x120.w
        move.b  #0x40, VR               | vectors 0x40-0x4F, automatic end of interrupt
        move.b  #1, TBDR
        move.b  #0x01, IMRA
        move.b  #0x01, IERA
        move.b  #8, TBCR                | event count: display line ends
        move.w  #0x2300, sr
spin:
        addq.l  #1, spins
        bra.s   spin

hbl:
        addq.l  #1, hbls
        rte
vbl:
        addq.l  #1, vbls
        rte
timer_b:
        addq.l  #1, timer_bs
        rte

| NOPs for the NOP-equivalent count.
nops:
        nop
        bra.s   nops

| A long move whose immediate's low word reads as a jsr (abs.l): decoding from that word
| steps over the label behind it.
misaligned:
        move.l  #0x12344EB9, d0
misaligned_next:
        nop
        nop
        nop
        bra.s   misaligned

        .even
counter:        .long   0
spins:          .long   0
hbls:           .long   0
vbls:           .long   0
timer_bs:       .long   0
data:           .long   0
