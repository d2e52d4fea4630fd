| An AUTO program for the drive C: benchmark (position independent; its buffer lies in the
| BSS the harness gives it): times, in 200 Hz ticks of _hz_200, reading C:\BIG.DAT (1 MB) in
| 2048 Fread calls of 512 bytes, then reading 1 MB from the floppy in drive A with Floprd, 228
| calls of 9 sectors over its tracks and sides; writes both counts to C:\RESULT.DAT and ends.
        .equ    hz_200, 0x4BA
        .text
        .globl  _start, program_end
_start:
        clr.l   -(sp)                   | Super(0): _hz_200 is read in supervisor mode
        move.w  #0x20, -(sp)
        trap    #1
        addq.l  #6, sp
        clr.w   -(sp)                   | Fopen("C:\BIG.DAT", 0)
        pea     big(pc)
        move.w  #0x3D, -(sp)
        trap    #1
        addq.l  #8, sp
        move.w  d0, d7
        bmi     fail
        move.l  hz_200.w, d5
        move.w  #2047, d6
read:
        pea     buffer(pc)              | Fread(handle, 512, buffer)
        move.l  #512, -(sp)
        move.w  d7, -(sp)
        move.w  #0x3F, -(sp)
        trap    #1
        lea     12(sp), sp
        dbra    d6, read
        move.l  hz_200.w, d4
        sub.l   d5, d4
        move.w  d7, -(sp)               | Fclose(handle)
        move.w  #0x3E, -(sp)
        trap    #1
        addq.l  #4, sp

        move.l  hz_200.w, d5
        moveq   #0, d3
        move.w  #227, d6
floppy:
        move.w  #9, -(sp)               | Floprd(buffer, 0, 0, 1, track, side, 9)
        move.w  d3, d0
        andi.w  #1, d0
        move.w  d0, -(sp)               | side
        move.w  d3, d0
        lsr.w   #1, d0
        ext.l   d0
        divu    #80, d0
        swap    d0
        move.w  d0, -(sp)               | track
        move.w  #1, -(sp)
        clr.w   -(sp)
        clr.l   -(sp)
        pea     buffer(pc)
        move.w  #8, -(sp)
        trap    #14
        lea     20(sp), sp
        addq.w  #1, d3
        dbra    d6, floppy
        move.l  hz_200.w, d2
        sub.l   d5, d2

        lea     buffer(pc), a0
        move.l  d4, (a0)
        move.l  d2, 4(a0)
        clr.w   -(sp)                   | Fcreate("C:\RESULT.DAT", 0)
        pea     result(pc)
        move.w  #0x3C, -(sp)
        trap    #1
        addq.l  #8, sp
        move.w  d0, d7
        bmi     fail
        pea     buffer(pc)              | Fwrite(handle, 8, buffer)
        move.l  #8, -(sp)
        move.w  d7, -(sp)
        move.w  #0x40, -(sp)
        trap    #1
        lea     12(sp), sp
        move.w  d7, -(sp)               | Fclose(handle)
        move.w  #0x3E, -(sp)
        trap    #1
        addq.l  #4, sp
fail:
        clr.w   -(sp)                   | Pterm0
        trap    #1

big:
        .asciz  "C:\\BIG.DAT"
result:
        .asciz  "C:\\RESULT.DAT"
        .even
program_end:
buffer:
