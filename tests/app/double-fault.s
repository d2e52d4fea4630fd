| origin 0xFC0000
| A TOS image that halts the processor at once: its stack pointer is odd, so the address
| error taken by its first access cannot push its frame.
        .text
        .globl  _start
_start:
        bra.s   start           | TOS header: branch, version, reset PC, base
        .word   0x0104
        .long   start
        .long   0xFC0000
start:
        move.l  #0x7FFF, sp
        move.w  0x1001, d0
        bra.s   start
        .fill   64, 1, 0        | TOS images are at least this long
