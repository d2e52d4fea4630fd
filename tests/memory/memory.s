| Single accesses on the machine's map. Each case is one instruction at its label; the test
| runs one step and looks at what it did.
        .text
        .globl  _start
_start:
write_odd_byte:
        move.b  d0, 0x101.w
read_top_of_4mb:
        move.w  0x3ffffe, d1
write_top_of_4mb:
        move.w  d0, 0x3ffffe
write_rom:
        move.w  d0, 0xfc0000
read_rom:
        move.w  0xfc0000, d1
write_vector:
        move.l  d0, 4.w
read_io_odd:
        move.w  0xff8001, d1
read_io_long:
        move.l  0xff8240, d1
write_io_long:
        move.l  d0, 0xff8240
write_watch_long:
        move.l  d0, 0x10000
read_unmapped:
        move.w  0x500000, d1
read_ram_end_long:
        move.l  0x7fffe, d1
write_low_user:
        move.w  d0, 0x400.w
