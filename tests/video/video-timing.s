| Boot-sector style programs that measure the video timing as software sees it. The test pokes
| the settings below, starts the machine at `start` and reads the results after some frames.
| From the fourth VBL on, for one frame: every HBL counts and reads the video counter into
| `counters`. With `timers` set, timer B (event count, data 1) counts display-enable edges
| in that frame and timer A (delay mode, 6,144 Hz) its underflows from then on, with the HBL
| masked. The CPU waits in STOP, so that each HBL reads the counter at the same cycle of its
| line (without the timers, whose handlers would delay it).
        .equ    VBASEHI, 0xFF8201
        .equ    VBASEMID, 0xFF8203
        .equ    SYNC, 0xFF820A
        .equ    RES, 0xFF8260
        .equ    MFP, 0xFFFA00
        .equ    GPIP, MFP+0x01
        .equ    AER, MFP+0x03
        .equ    DDR, MFP+0x05
        .equ    IERA, MFP+0x07
        .equ    IERB, MFP+0x09
        .equ    IMRA, MFP+0x13
        .equ    IMRB, MFP+0x15
        .equ    VR, MFP+0x17
        .equ    TACR, MFP+0x19
        .equ    TBCR, MFP+0x1B
        .equ    TADR, MFP+0x1F
        .equ    TBDR, MFP+0x21

        .text
        .globl  _start
_start:
start:
        move.w  #0x2700, sr
        clr.b   DDR                     | every GPIP line an input
        move.b  GPIP, gpip
        move.l  #vbl, 0x70.w
        move.l  #hbl, 0x68.w
        move.l  #timer_a, 0x134.w
        move.l  #timer_b, 0x120.w
        clr.b   TACR
        clr.b   TBCR
        clr.b   IERA
        clr.b   IERB
        clr.b   IMRA
        clr.b   IMRB
        move.b  #0x40, VR               | vectors from 0x100, automatic end of interrupt
        move.b  aer, AER
        move.b  #0x01, VBASEHI          | screen at 0x10000
        move.b  #0x00, VBASEMID
        move.b  res, RES
        move.b  sync, SYNC
        lea     VBASEMID, a6            | movep.l from here reads the counter's three bytes
        lea     counters, a4
        movea.l a4, a3                  | no counter reads until the measured frame
        move.b  #1, TBDR
        move.b  #8, TBCR                | event count
        move.b  #100, TADR
        move.b  #1, TACR                | divide by 4: 2,457,600 / 400 = 6,144 Hz
        tst.b   timers
        bne.s   timed
spin:
        stop    #0x2100                 | HBL and VBL
        bra.s   spin
timed:
        move.b  #0x21, IERA
        move.b  #0x21, IMRA
1:      stop    #0x2300                 | VBL and the MFP: no time for HBLs at 71 Hz
        bra.s   1b

| The counts run in registers, kept clear of the main loop: d4 HBLs, d5 timer B, d6 timer A.
vbl:
        addq.l  #1, frames
        move.l  d6, ta_count            | underflows since the fourth VBL
        cmpi.l  #4, frames
        bne.s   1f
        moveq   #0, d4
        moveq   #0, d5
        moveq   #0, d6
        lea     counters, a4
        lea     counters_end, a3
1:      cmpi.l  #5, frames
        bne.s   2f
        move.l  d4, hbl_frame
        move.l  d5, tb_frame
2:      move.l  frames, d0
        cmp.l   switch_frame, d0
        bne.s   3f
        move.b  switch_sync, SYNC       | the sync first: only the second write changes
        move.b  switch_res, RES         | the timing when both change
3:      rte

hbl:
        addq.l  #1, d4
        cmpa.l  a3, a4
        bhs.s   1f
        movep.l 0(a6), d7
        move.l  d7, (a4)+
1:      rte

timer_a:
        addq.l  #1, d6
        rte

timer_b:
        addq.l  #1, d5
        rte

unexpected:
        move.l  #0xBAD0BAD0, fault
        bra.s   unexpected

        .even
| Settings, poked by the test.
sync:           .byte   2
res:            .byte   0
aer:            .byte   0
timers:         .byte   0
switch_sync:    .byte   2
switch_res:     .byte   0
        .even
switch_frame:   .long   0
| Results.
gpip:           .byte   0
        .even
fault:          .long   0
frames:         .long   0
hbl_frame:      .long   0
tb_frame:       .long   0
ta_count:       .long   0
counters:       .space  4*600
counters_end:
