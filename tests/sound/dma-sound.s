| STE DMA sound driven as players drive it. The test starts the machine at an entry and reads
| the results from the labels at the end. MFP vector base 0x40, automatic end of interrupt.
        .equ    SOUND, 0xFF8900
        .equ    CONTROL, SOUND+0x01
        .equ    START_HI, SOUND+0x03
        .equ    START_MID, SOUND+0x05
        .equ    START_LO, SOUND+0x07
        .equ    COUNT_HI, SOUND+0x09
        .equ    COUNT_MID, SOUND+0x0B
        .equ    COUNT_LO, SOUND+0x0D
        .equ    END_HI, SOUND+0x0F
        .equ    END_MID, SOUND+0x11
        .equ    END_LO, SOUND+0x13
        .equ    MODE, SOUND+0x21
        .equ    MFP, 0xFFFA00
        .equ    GPIP, MFP+0x01
        .equ    AER, MFP+0x03
        .equ    DDR, MFP+0x05
        .equ    IERA, MFP+0x07
        .equ    IMRA, MFP+0x13
        .equ    VR, MFP+0x17
        .equ    TACR, MFP+0x19
        .equ    TADR, MFP+0x1F
        .equ    BUFFER, 0x20000         | 64 bytes: 32 stereo samples, 5120 cycles at 50 kHz
        .equ    BUFFER_END, BUFFER+64

        .text
        .globl  _start
_start:

| A looping frame at 50 kHz in stereo: timer A counts the frame ends (event count, one count
| an interrupt) and GPIP 7 interrupts on the falling edge of its line. Each timer A handler
| logs the frame counter; GPIP 7 is read while playing and after the stop.
frame_ends:
        move.l  #timer_a, 0x134.w
        move.l  #gpip7, 0x13C.w
        move.b  #0x40, VR
        clr.b   AER                     | falling edges on GPIP 7 and timer A's input
        clr.b   DDR                     | GPIP reads the input lines
        move.b  #1, TADR
        move.b  #8, TACR                | timer A: event count
        move.b  #0xA0, IERA             | channel 15 (GPIP 7) and 13 (timer A)
        move.b  #0xA0, IMRA
        move.b  #BUFFER>>16, START_HI
        move.b  #(BUFFER>>8)&0xFF, START_MID
        move.b  #BUFFER&0xFF, START_LO
        move.b  #BUFFER_END>>16, END_HI
        move.b  #(BUFFER_END>>8)&0xFF, END_MID
        move.b  #BUFFER_END&0xFF, END_LO
        move.b  #3, MODE                | stereo, 50066 Hz
        move.w  #0x2300, sr
        move.b  #3, CONTROL             | play, loop
        move.b  GPIP, gpip_playing
1:      cmp.l   #8, a_count
        bne.s   1b
        move.w  #0x2700, sr
        clr.b   CONTROL
        move.b  GPIP, gpip_stopped
        move.l  #1, finished
spin:
        bra.s   spin

timer_a:
        movem.l d0/a0, -(sp)
        moveq   #0, d0
        move.b  COUNT_HI, d0
        lsl.l   #8, d0
        move.b  COUNT_MID, d0
        lsl.l   #8, d0
        move.b  COUNT_LO, d0
        move.l  a_count, a0
        add.l   a0, a0
        add.l   a0, a0
        add.l   #counters, a0
        move.l  d0, (a0)
        addq.l  #1, a_count
        movem.l (sp)+, d0/a0
        rte

gpip7:
        addq.l  #1, gpip7_count
        rte

vbl:
        rte

unexpected:
        move.l  #0xBAD0BAD0, fault
        bra.s   unexpected

| A long frame looping at 6258 Hz in mono, after a master volume command; timer A counts the
| frame ends. Nothing stops it: save states are taken while it plays.
play_forever:
        move.w  #0x07FF, SOUND+0x24
        move.w  #0x04C0+34, SOUND+0x22  | master volume -12 dB
        move.b  #1, TADR
        move.b  #8, TACR
        move.b  #BUFFER>>16, START_HI
        move.b  #(BUFFER>>8)&0xFF, START_MID
        move.b  #BUFFER&0xFF, START_LO
        move.b  #0x02, END_HI           | 0x20400: 1024 samples, some 8 frames
        move.b  #0x04, END_MID
        move.b  #0x00, END_LO
        move.b  #0x80, MODE
        move.b  #3, CONTROL
        bra     spin

        .even
finished:       .long   0
fault:          .long   0
a_count:        .long   0
gpip7_count:    .long   0
gpip_playing:   .byte   0
gpip_stopped:   .byte   0
        .even
counters:       .space  64
