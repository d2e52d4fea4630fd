| On an STE: fills a rectangle of plane 0 with a halftone through the end masks, then ORs a
| 16 x 16 triangle into plane 1 at a column that needs a skew of 11 and no final source read.
| Waits for each blit the way EmuTOS does (TAS on the busy bit), then idles. The screen is
| cleared memory at 0x78000.
        .text
        .globl  _start
_start:
        move.b  #0x07, 0xff8201         | video base 0x078000
        move.b  #0x80, 0xff8203
        move.b  #0x00, 0xff820d
        move.w  #0x0000, 0xff8240       | colour 0 black
        move.w  #0x0f00, 0xff8242       | colour 1 full red (the fourth bit too)
        move.w  #0x0080, 0xff8244       | colour 2 only the STE's low green bit
        move.w  #0x0fff, 0xff8246       | colour 3 white

        lea     0xff8a00, a0            | halftone: 0xAAAA on even lines, 0x5555 on odd ones
        moveq   #7, d0
ht:     move.w  #0xaaaa, (a0)+
        move.w  #0x5555, (a0)+
        dbra    d0, ht

| Rectangle: columns 13-100, lines 20-49, plane 0.
        move.w  #0x0007, 0xff8a28       | end masks: from column 13, through column 100
        move.w  #0xffff, 0xff8a2a
        move.w  #0xf800, 0xff8a2c
        move.w  #8, 0xff8a2e            | destination X increment: the next word of plane 0
        move.w  #160-6*8, 0xff8a30      | Y increment: the start of the next line
        move.l  #0x78000+20*160, 0xff8a32
        move.w  #7, 0xff8a36            | 7 words a line
        move.w  #30, 0xff8a38           | 30 lines
        move.w  #0x0103, 0xff8a3a       | HOP halftone, OP source
        move.b  #0x00, 0xff8a3d         | no skew
        move.b  #0x80, 0xff8a3c         | start, halftone line 0
        bsr     wait

| Triangle: 16 lines from line 100, columns 155-170, plane 1.
        move.w  #2, 0xff8a20            | source: one word a line, the lines one after another
        move.w  #2, 0xff8a22
        move.l  #triangle, 0xff8a24
        move.w  #0x001f, 0xff8a28       | from column 155 (bit 11 of word 9)
        move.w  #0xffff, 0xff8a2a
        move.w  #0xffe0, 0xff8a2c       | through column 170 (bit 10 of word 10)
        move.w  #8, 0xff8a2e
        move.w  #160-8, 0xff8a30
        move.l  #0x78000+100*160+9*8+2, 0xff8a32
        move.w  #2, 0xff8a36            | 2 words a line
        move.w  #16, 0xff8a38
        move.w  #0x0207, 0xff8a3a       | HOP source, OP source OR destination
        move.b  #0x4b, 0xff8a3d         | NFSR, skew 11
        move.b  #0x80, 0xff8a3c
        bsr     wait
idle:   bra.s   idle

wait:   lea     0xff8a3c, a1
busy:   tas     (a1)
        nop
        bmi.s   busy
        rts

        .even
triangle:
        .word   0xffff, 0x7fff, 0x3fff, 0x1fff, 0x0fff, 0x07ff, 0x03ff, 0x01ff
        .word   0x00ff, 0x007f, 0x003f, 0x001f, 0x000f, 0x0007, 0x0003, 0x0001
