| Exceptions and interrupts. Each case starts at its label; handlers end in a loop so that
| the test finds the PC there.
        .text
        .globl  _start
_start:
trap_user:
        trap    #3
trap_user_next:
        nop
mask_drop:
        nop
        move.w  #0x2100, sr
after_drop:
        nop
        bra.s   after_drop
level4:
        moveq   #4, d4
        rte
level2:
        moveq   #2, d2
        bra.s   handler_loop
rom_write:
        move.w  d0, 0xfc0000
rom_write_next:
        nop
io_write:
        move.w  d0, 0xff8a00
after_io:
        moveq   #1, d1
        bra.s   after_io
trace_return:
        rte
traced:
        moveq   #5, d5
traced_next:
        moveq   #6, d6
        nop
handler:
        moveq   #9, d0
handler_loop:
        bra.s   handler_loop
