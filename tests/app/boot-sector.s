| origin 0x0
| The program of a boot sector (placed at offset 0x1E, run by TOS from wherever it loaded the
| sector, so position independent): leaves a marker in RAM, paints the top lines of the
| screen, starts a square wave on channel A of the YM2149 and waits there for good.
        .equ    marker, 0x100000        | free RAM in a 1 or 2 MB machine at boot time
        .equ    marker_value, 0x56584C21
        .equ    v_bas_ad, 0x44E         | TOS: the screen's address
        .equ    paint_lines, 16
        .equ    paint_word, 0xF0F0
        .equ    period, 284             | 2005312 / (16 * 284) = 441.30 Hz
        .globl  marker, marker_value, paint_lines, paint_word, period

        .text
        .globl  _start
_start:
start:
        move.l  #marker_value, marker
        move.l  v_bas_ad.w, a0
        move.w  #paint_lines * 80 - 1, d0
paint:
        move.w  #paint_word, (a0)+
        dbra    d0, paint
        lea     tune(pc), a1
next:
        move.b  (a1)+, d0
        bmi.s   wait
        move.b  d0, 0xFF8800            | select
        move.b  (a1)+, 0xFF8802         | write
        bra.s   next
wait:
        bra.s   wait

tune:   | register, value; ends with a negative register number
        .byte   0, period & 0xFF
        .byte   1, period >> 8
        .byte   7, 0xFE                 | tone A only; ports A and B stay outputs
        .byte   8, 15
        .byte   0xFF
        .even
