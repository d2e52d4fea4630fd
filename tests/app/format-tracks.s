| origin 0x0
| The program of a boot sector that formats two tracks of its own floppy through XBIOS
| Flopfmt, track 5 with 9 sectors and track 6 with 10 (side 0, filled with E5E5), then reads
| each back whole with Floprd. The results land in RAM for the test to read.
        .equ    marker, 0x100000        | done_value when all calls returned
        .equ    results, 0x100004       | Flopfmt 9, Flopfmt 10, Floprd 9, Floprd 10 (longs)
        .equ    track_buffer, 0x110000  | Flopfmt's work area, then what Floprd read
        .equ    read_buffer, 0x120000
        .equ    done_value, 0x464D5444
        .globl  marker, results, track_buffer, read_buffer, done_value

        .text
        .globl  _start
_start:
        lea     results, a3
        moveq   #5, d6                  | track
        moveq   #9, d7                  | sectors
        bsr     format
        moveq   #6, d6
        moveq   #10, d7
        bsr     format
        moveq   #5, d6
        moveq   #9, d7
        bsr     read
        moveq   #6, d6
        moveq   #10, d7
        lea     read_buffer + 0x1200, a4   | right after the 9 sectors
        bsr     read2
        move.l  #done_value, marker
hang:
        bra     hang

format:                                 | Flopfmt(buffer, 0, 0, d7, d6, 0, 1, magic, E5E5)
        move.w  #0xE5E5, -(sp)
        move.l  #0x87654321, -(sp)
        move.w  #1, -(sp)               | interleave
        clr.w   -(sp)                   | side
        move.w  d6, -(sp)
        move.w  d7, -(sp)
        clr.w   -(sp)                   | drive A
        clr.l   -(sp)                   | no skew table
        pea     track_buffer
        move.w  #10, -(sp)
        trap    #14
        lea     26(sp), sp
        move.l  d0, (a3)+
        rts

read:
        lea     read_buffer, a4
read2:                                  | Floprd(a4, 0, 0, 1, d6, 0, d7)
        move.w  d7, -(sp)
        clr.w   -(sp)
        move.w  d6, -(sp)
        move.w  #1, -(sp)
        clr.w   -(sp)
        clr.l   -(sp)
        move.l  a4, -(sp)
        move.w  #8, -(sp)
        trap    #14
        lea     20(sp), sp
        move.l  d0, (a3)+
        rts
