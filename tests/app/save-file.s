| origin 0x0
| The program of a boot sector that keeps a file on its floppy through GEMDOS: it opens
| A:\SAVE.DAT; when the file is there it reads it and is done, else it creates it, writes
| 16 bytes and then waits until the test sets `go` (after a disk swap), to open and read
| it again. Each call's result lands in RAM for the test to read.
        .equ    marker, 0x100000        | 'WRIT' once written, 'READ' once read
        .equ    first_open, 0x100004
        .equ    create_result, 0x100008
        .equ    write_result, 0x10000C
        .equ    go, 0x100010            | the test writes go_value here
        .equ    second_open, 0x100014
        .equ    read_result, 0x100018
        .equ    buffer, 0x100020        | what was read (16 bytes)
        .equ    written_value, 0x57524954
        .equ    read_value, 0x52454144
        .equ    go_value, 0x474F2121
        .globl  marker, first_open, create_result, write_result, go, second_open, read_result
        .globl  buffer, written_value, read_value, go_value

        .text
        .globl  _start
_start:
        bsr   open
        move.l  d0, first_open
        bpl   read
        clr.w   -(sp)                   | Fcreate(name, 0)
        pea     name(pc)
        move.w  #0x3C, -(sp)
        trap    #1
        addq.l  #8, sp
        move.l  d0, create_result
        bmi   written
        move.w  d0, d6
        pea     text(pc)                | Fwrite(handle, 16, text)
        move.l  #16, -(sp)
        move.w  d6, -(sp)
        move.w  #0x40, -(sp)
        trap    #1
        lea     12(sp), sp
        move.l  d0, write_result
        bsr   close
written:
        move.l  #written_value, marker
wait:
        cmp.l   #go_value, go
        bne   wait
        bsr   open
read:
        move.l  d0, second_open
        bmi   done
        move.w  d0, d6
        pea     buffer                  | Fread(handle, 16, buffer)
        move.l  #16, -(sp)
        move.w  d6, -(sp)
        move.w  #0x3F, -(sp)
        trap    #1
        lea     12(sp), sp
        move.l  d0, read_result
        bsr   close
done:
        move.l  #read_value, marker
hang:
        bra   hang

open:                                   | Fopen(name, 0) -> d0
        clr.w   -(sp)
        pea     name(pc)
        move.w  #0x3D, -(sp)
        trap    #1
        addq.l  #8, sp
        rts
close:                                  | Fclose(d6)
        move.w  d6, -(sp)
        move.w  #0x3E, -(sp)
        trap    #1
        addq.l  #4, sp
        rts

name:   .asciz  "A:\\SAVE.DAT"
text:   .ascii  "kept on floppy!\n"
        .even
