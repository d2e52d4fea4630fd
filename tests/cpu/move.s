| Small programs for the data-movement group. Each case starts at its label; the test sets
| A0 to its data area (and D0/D7 to 0) first.
        .text
        .globl  _start
_start:
movem_w_load:
        movem.w (a0), d0/a1
        nop
movem_l_store:
        movem.l d0-d2, (a0)
        nop
movem_l_index_load:
        movem.l 0(a0,d7.w), d0-d1
        nop
lea_index:
        lea     2(a0,d0.w), a1
        nop
pea_index:
        pea     2(a0,d0.w)
        nop
st_dn:
        st      d0
        nop
st_index:
        st      2(a0,d0.w)
        nop
st_then_bne:
        st      d0
        bne.s   st_then_bne_target
        nop
st_then_bne_target:
        nop
tas_mem:
        tas     (a0)
        nop
move_from_sr_dn:
        move.w  sr, d1
        nop
exg_movea_move:
        exg     d0, d1
        movea.l a0, a1
        move.w  -(a0), d2
        nop
exg_move_move:
        exg     d0, d1
        move.l  d0, d1
        move.w  -(a0), d2
        nop
| MOVE.B from an address register, which the assembler refuses: the test turns the source of
| the labelled MOVE.B from D1 into A1 (mode field 000 -> 001).
exg_moveb_an_move:
        exg     d0, d1
moveb_an_1:
        move.b  d1, d1
        move.w  -(a0), d2
        nop
move_b_an:
        move.b  d1, d0
        nop
move_b_predec_a7:
        move.b  d0, -(a7)
        nop
lower_mask:
        move.w  #0x2300, sr
after_lower_mask:
        moveq   #1, d7
        nop
