| Small programs for the run engine's accounting. Each case starts at its label and the
| test runs it with the budget its table row gives.
        .text
        .globl  _start
_start:
exg_alone:
        exg     d0, d1
        nop
move_predec:
        move.b  -(a0), d0
        nop
exg_then_move:
        exg     d0, d1
        move.w  -(a0), d2
        nop
exg_nop_move:
        exg     d0, d1
        nop
        move.w  -(a0), d2
        nop
long_move:
        move.l  0x2000.l, 0x2004.l
        nop
stop_here:
        stop    #0x2300
after_stop:
        moveq   #7, d7
        nop
reset_here:
        reset
        nop
loop_forever:
        moveq   #1, d0
        bra.s   loop_forever
run_off_end:
        bra.w   run_off_end+0x7ff0
to_user_mode:
        move.w  #0x0700, sr
        moveq   #1, d0
