| On an STE: at the second VBL, fills lines 100-149 of plane 0 of the screen (cleared memory
| at 0x78000) with the Blitter, well before the beam reaches them, then sets `blitted` and
| idles. The fill shows in the frame it was made in.
        .text
        .globl  _start
_start:
        move.b  #0x07, 0xff8201         | video base 0x078000
        move.b  #0x80, 0xff8203
        move.b  #0x00, 0xff820d
        move.w  #0x0000, 0xff8240       | colour 0 black
        move.w  #0x0f00, 0xff8242       | colour 1 red
        move.l  #vbl, 0x70.w
        move.w  #0x2300, sr
wait_vbl:                               | the second VBL: the new video base is in force
        cmp.w   #2, vbls
        blo.s   wait_vbl

        move.w  #0xffff, 0xff8a28       | all bits of every word
        move.w  #0xffff, 0xff8a2a
        move.w  #0xffff, 0xff8a2c
        move.w  #8, 0xff8a2e            | plane 0 words
        move.w  #8, 0xff8a30
        move.l  #0x78000+100*160, 0xff8a32
        move.w  #20, 0xff8a36           | 20 words a line
        move.w  #50, 0xff8a38           | 50 lines
        move.w  #0x000f, 0xff8a3a       | HOP ones, OP ones
        move.b  #0x00, 0xff8a3d
        move.b  #0x80, 0xff8a3c         | start
        move.w  #1, blitted
idle:   bra.s   idle

vbl:    addq.w  #1, vbls
        rte

        .even
vbls:   .word   0
blitted: .word  0
