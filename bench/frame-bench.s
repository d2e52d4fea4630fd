| frame-bench.s: a busy program for timing whole frames: a copy-and-checksum loop runs while
| the VBL, the HBL and MFP timer C (200 Hz, as the system timer ticks) interrupt it.
|
| Run: loaded at 0x1000 with the reset vectors SSP = 0x8000, PC = 0x1000; frames are run by
| the frame scheduler. `vbls` counts the VBLs, so the caller can check the run.
        .equ    MFP, 0xFFFA00
        .equ    IERB, MFP+0x09
        .equ    ISRB, MFP+0x11
        .equ    IMRB, MFP+0x15
        .equ    VR, MFP+0x17
        .equ    TCDCR, MFP+0x1D
        .equ    TCDR, MFP+0x23
        .equ    SRC, 0x20000
        .equ    DST, 0x24000

        .text
        .globl  _start
_start:
        move.l  #hbl, 0x68.w
        move.l  #vbl, 0x70.w
        move.l  #timer_c, 0x114.w       | MFP channel 5, vector base 0x40
        move.b  #0x48, VR
        move.b  #192, TCDR              | 2457600 / 64 / 192 = 200 Hz
        move.b  #0x20, IMRB
        move.b  #0x20, IERB
        move.b  #0x50, TCDCR            | timer C divide by 64
        move.w  #0x2100, sr
busy:
        lea     SRC, a0
        lea     DST, a1
        move.w  #255, d7
copy:
        move.l  (a0)+, d0
        add.l   d0, d1
        eor.l   d1, d0
        lsl.l   #3, d0
        move.l  d0, (a1)+
        dbra    d7, copy
        addq.l  #1, passes
        bra.s   busy

hbl:
        addq.l  #1, hbls
        rte
vbl:
        addq.l  #1, vbls
        rte
timer_c:
        addq.l  #1, ticks
        move.b  #0xDF, ISRB             | end of service, channel 5
        rte

        .even
passes:     .long   0
hbls:       .long   0
vbls:       .long   0
ticks:      .long   0
