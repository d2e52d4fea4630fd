| origin 0x0
| Boot-sector program: counts a long in RAM up from 0 once a frame (waiting on the VBL
| counter) and writes a marker when it reaches 100; then waits in a loop it places at 0x110000.
        .equ    frclock, 0x466
        .equ    counter, 0x100000
        .equ    marker, 0x100004
        .equ    marker_value, 0x434F554E      | "COUN"
        .text
        .globl  _start
_start:
        clr.l   counter
        move.w  #0x2300, sr             | the VBL counts while the program waits
frame:
        move.l  frclock.w, d0
wait:
        cmp.l   frclock.w, d0
        beq.s   wait
        addq.l  #1, counter
        cmp.l   #100, counter
        bne.s   frame
        move.l  #marker_value, marker
        lea     0x110000, a0
        move.w  #0x60FE, (a0)           | bra.s to itself
        jmp     (a0)
