| origin 0x3000
| timer-bench.s: frame-bench.s's busy loop under the timer load TOS leaves running, plus
| raster bars. Timer C interrupts at 200 Hz (frame-bench.s's handler counts its `ticks`),
| timer D runs at divide 4, data 2 (the serial port's 9600 baud clock) with its interrupt
| off, and timer B in event count mode interrupts on every display line, where its handler
| writes a new background colour, as raster-bar intros do.
|
| Run: frame-bench.s loaded at its origin and not started; this program loaded here with the
| reset vectors SSP = 0x8000, PC = 0x3000, after the caller has put frame-bench.s's `busy`
| and `timer_c` into `frame_busy` and `frame_timer_c`. `vbls` counts the VBLs and `lines` the
| timer B interrupts, so the caller can check the run.
        .equ    MFP, 0xFFFA00
        .equ    AER, MFP+0x03
        .equ    IERA, MFP+0x07
        .equ    IERB, MFP+0x09
        .equ    ISRA, MFP+0x0F
        .equ    IMRA, MFP+0x13
        .equ    IMRB, MFP+0x15
        .equ    VR, MFP+0x17
        .equ    TBCR, MFP+0x1B
        .equ    TCDCR, MFP+0x1D
        .equ    TBDR, MFP+0x21
        .equ    TCDR, MFP+0x23
        .equ    TDDR, MFP+0x25
        .equ    COLOR0, 0xFF8240

        .text
        .globl  _start
_start:
        move.l  #vbl, 0x70.w
        move.l  #timer_b, 0x120.w       | MFP channel 8, vector base 0x40
        move.l  frame_timer_c, 0x114.w  | MFP channel 5
        move.b  #0x48, VR
        clr.b   AER
        move.b  #192, TCDR              | 2457600 / 64 / 192 = 200 Hz
        move.b  #2, TDDR                | 2457600 / 4 / 2 / 16 = 19200 baud clock
        move.b  #0x20, IMRB
        move.b  #0x20, IERB             | timer C only: timer D's interrupt stays off
        move.b  #0x01, IMRA
        move.b  #0x01, IERA
        move.b  #0x51, TCDCR            | timer C divide by 64, timer D divide by 4
        move.b  #1, TBDR
        move.b  #8, TBCR                | timer B counts display lines
        move.w  #0x2300, sr
        move.l  frame_busy, a0
        jmp     (a0)

vbl:
        addq.l  #1, vbls
        clr.w   colour
        rte
timer_b:
        addq.l  #1, lines
        add.w   #0x111, colour
        move.w  colour, COLOR0
        move.b  #0xFE, ISRA             | end of service, channel 8
        rte

        .even
frame_busy:     .long   0
frame_timer_c:  .long   0
vbls:           .long   0
lines:          .long   0
colour:         .word   0
