| origin 0x0
| A GEMDOS program for a floppy's AUTO folder (position independent, nothing to relocate):
| opens A:\DATA.BIN, reads it with one Fread of more bytes than it holds into free RAM at
| `copy`, closes it, leaves the count read and then the marker at `marker`, and waits there.
        .equ    marker, 0x100000        | free RAM in a 2 MB machine while AUTO runs
        .equ    marker_value, 0x46494C45
        .equ    count, marker + 4       | Fread's result
        .equ    copy, marker + 16
        .equ    asked, 8192
        .globl  marker, marker_value, count, copy, asked, program_end

        .text
        .globl  _start
_start:
        move.l  #-1, count
        clr.w   -(sp)                   | Fopen("A:\DATA.BIN", 0)
        pea     name(pc)
        move.w  #0x3D, -(sp)
        trap    #1
        addq.l  #8, sp
        move.l  d0, count
        tst.w   d0
        bmi.s   done
        move.w  d0, d7
        pea     copy                    | Fread(handle, asked, copy)
        move.l  #asked, -(sp)
        move.w  d7, -(sp)
        move.w  #0x3F, -(sp)
        trap    #1
        lea     12(sp), sp
        move.l  d0, count
        move.w  d7, -(sp)               | Fclose(handle)
        move.w  #0x3E, -(sp)
        trap    #1
        addq.l  #4, sp
done:
        move.l  #marker_value, marker
wait:
        bra.s   wait

name:
        .asciz  "A:\\DATA.BIN"
        .even
program_end:
