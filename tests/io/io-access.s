| Single instructions for the I/O decoder tests. The test sets the registers, points the PC
| at one label and runs one instruction.
        .text
        .globl  _start
_start:
write_byte:
        move.b  d0, (a0)
        nop
write_long:
        move.l  d0, (a0)
        nop
read_word:
        move.w  (a0), d1
        nop
write_words:
        movem.l d0-d3, (a0)
        nop
read_bytes:
        movem.w (a0), d0-d7
        nop
bus_error:
        nop
        nop
