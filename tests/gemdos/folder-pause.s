| origin 0x0
| An AUTO program for drive C: (position independent, nothing to relocate) that reads a file
| in two parts with a pause between them, for a save state taken while the file is open:
| opens C:\DATA.BIN, reads `first_part` bytes to `copy`, sets `stage` to 1 and waits until
| `go` is set; then reads `second_part` bytes after them, closes the file, sets `stage` to 2
| and waits for good. Fread's results go to `read1` and `read2`.
        .equ    stage, 0x100000         | free RAM in a 2 MB machine while AUTO runs
        .equ    go, stage + 4
        .equ    read1, stage + 8
        .equ    read2, stage + 12
        .equ    copy, stage + 16
        .equ    first_part, 300
        .equ    second_part, 500
        .globl  stage, go, read1, read2, copy, first_part, second_part, program_end

        .text
        .globl  _start
_start:
        clr.l   stage
        clr.l   go
        clr.w   -(sp)                   | Fopen("C:\DATA.BIN", 0)
        pea     name(pc)
        move.w  #0x3D, -(sp)
        trap    #1
        addq.l  #8, sp
        move.l  d0, read1
        tst.w   d0
        bmi.s   stop
        move.w  d0, d7
        pea     copy                    | Fread(handle, first_part, copy)
        move.l  #first_part, -(sp)
        move.w  d7, -(sp)
        move.w  #0x3F, -(sp)
        trap    #1
        lea     12(sp), sp
        move.l  d0, read1
        move.l  #1, stage
pause:
        tst.l   go
        beq.s   pause
        pea     copy + first_part       | Fread(handle, second_part, copy + first_part)
        move.l  #second_part, -(sp)
        move.w  d7, -(sp)
        move.w  #0x3F, -(sp)
        trap    #1
        lea     12(sp), sp
        move.l  d0, read2
        move.w  d7, -(sp)               | Fclose(handle)
        move.w  #0x3E, -(sp)
        trap    #1
        addq.l  #4, sp
stop:
        move.l  #2, stage
wait:
        bra.s   wait

name:
        .asciz  "C:\\DATA.BIN"
        .even
program_end:
