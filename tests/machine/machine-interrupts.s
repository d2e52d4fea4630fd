| Counts VBL, HBL and MFP timer interrupts while a loop spins. Timer A runs in delay mode
| (divide by 64, 100 counts), timer B counts display lines (one interrupt per line); the MFP
| uses software end of interrupt, so each MFP handler ends its own service.
        .equ    MFP, 0xFFFA00
        .equ    GPIP, MFP+0x01
        .equ    IERA, MFP+0x07
        .equ    ISRA, MFP+0x0F
        .equ    IMRA, MFP+0x13
        .equ    VR, MFP+0x17
        .equ    TACR, MFP+0x19
        .equ    TBCR, MFP+0x1B
        .equ    TADR, MFP+0x1F
        .equ    TBDR, MFP+0x21

        .text
        .globl  _start
_start:
        move.l  #hbl, 0x68.w            | level 2 autovector
        move.l  #vbl, 0x70.w            | level 4 autovector
        move.l  #timer_b, 0x120.w       | MFP channel 8, vector base 0x40
        move.l  #timer_a, 0x134.w       | MFP channel 13
        move.w  #0x2100, sr             | HBL, VBL and MFP unmasked
        move.b  #0x48, VR               | vectors 0x40-0x4F, software end of interrupt
        move.b  #100, TADR
        move.b  #1, TBDR
        move.b  #0x21, IMRA             | timers A and B
        move.b  #0x21, IERA
        move.b  #8, TBCR                | event count: display line ends
        move.b  #5, TACR                | delay, divide by 64
        move.l  #0x600DF00D, ready
loop:
        addq.l  #1, spins
        bra.s   loop

hbl:
        addq.l  #1, hbls
        rte
vbl:
        addq.l  #1, vbls
        rte
timer_a:
        addq.l  #1, timer_as
        move.b  #0xDF, ISRA             | end of service, channel 13
        rte
timer_b:
        addq.l  #1, timer_bs
        move.b  #0xFE, ISRA             | end of service, channel 8
        rte

| The RESET instruction resets the I/O chips.
do_reset:
        move.b  #0x55, IMRA
        reset
reset_done:
        nop

| Every other exception lands here.
unexpected:
        move.l  #0xBAD0BAD0, fault
        bra.s   unexpected

        .even
ready:      .long   0
fault:      .long   0
spins:      .long   0
hbls:       .long   0
vbls:       .long   0
timer_as:   .long   0
timer_bs:   .long   0
