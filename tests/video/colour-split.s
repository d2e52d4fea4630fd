| Turns colour 0 black at every VBL and green a fixed time later, in the top border of the
| picture: a delay loop after the VBL. The screen is blank memory at 0x78000.
        .text
        .globl  _start
_start:
        move.l  #vbl, 0x70.w            | level 4 autovector
        move.b  #0x07, 0xff8201         | video base 0x078000
        move.b  #0x80, 0xff8203
        move.w  #0x0000, 0xff8240
        move.w  #0x2300, sr             | the VBL only
loop:   bra.s   loop

vbl:    move.w  #0x0000, 0xff8240
        move.w  #1499, d0
delay:  dbra    d0, delay
        move.w  #0x0070, 0xff8240       | green from here on
        rte
