| Single instructions of the arithmetic and logic groups. Each case starts at its label; the
| test sets the registers and memory from its table row and runs one instruction (or two, for
| the pairs).
        .text
        .globl  _start
_start:
add_l_predec:
        add.l   -(a0), d0
        nop
sub_l_index:
        sub.l   0(a0,d1.w), d0
        nop
cmp_l_dn:
        cmp.l   d1, d0
        nop
cmpa_w_dn:
        cmpa.w  d1, a0
        nop
cmpi_l_dn:
        cmpi.l  #1, d0
        nop
addx_w_mem:
        addx.w  -(a0), -(a0)
        nop
clr_l_dn:
        clr.l   d0
        nop
abcd_dn:
        abcd    d1, d0
        nop
sbcd_mem:
        sbcd    -(a0), -(a0)
        nop
nbcd_dn:
        nbcd    d0
        nop
mulu_dn:
        mulu.w  d1, d0
        nop
divu_dn:
        divu.w  d1, d0
        nop
divu_overflow:
        divu.w  d1, d0
        nop
divs_imm:
        divs.w  #-2, d0
        nop
chk_dn:
        chk.w   d1, d0
        nop

andi_l_dn:
        andi.l  #0xff00ff00, d0
        nop
and_l_predec:
        and.l   -(a0), d0
        nop
or_l_index:
        or.l    0(a0,d1.w), d0
        nop
not_l_dn:
        not.l   d0
        nop

| Instructions that trap: the handler is at "trapped".
divu_zero:
        divu.w  #0, d0
divu_zero_next:
        nop
divs_zero_mem:
        divs.w  (a0), d0
divs_zero_mem_next:
        nop
chk_dn_trap:
        chk.w   d1, d0
chk_dn_trap_next:
        nop
chk_mem_trap:
        chk.w   (a0), d0
chk_mem_trap_next:
        nop
trapped:
        nop

| Writes over the next opcode prefetch it first: each patches the "moveq #1,d1" (0x7201)
| behind it, but the old one runs.
add_into_next:
        add.b   d0, (a0)
add_patched:
        moveq   #1, d1
        nop
sub_into_next:
        sub.b   d0, (a0)
sub_patched:
        moveq   #1, d1
        nop
and_into_next:
        and.b   d0, (a0)
and_patched:
        moveq   #1, d1
        nop
or_into_next:
        or.b   d0, (a0)
or_patched:
        moveq   #1, d1
        nop
eor_into_next:
        eor.b   d0, (a0)
eor_patched:
        moveq   #1, d1
        nop
| Accesses to a watched page at 0xff8000, timed within the instruction.
add_w_watched:
        add.w   d0, 0x8000.w
        nop
sub_l_watched:
        sub.l   d0, 0x8000.w
        nop
cmp_w_watched:
        cmp.w   0x8000.w, d0
        nop
tst_l_watched:
        tst.l   0x8000.w
        nop
clr_w_watched:
        clr.w   0x8000.w
        nop
| Lowering the mask lets a pending interrupt in before the next instruction.
unmask:
        andi.w  #0xf8ff, sr
after_unmask:
        moveq   #1, d7
        nop
level4_handler:
        moveq   #2, d6
level4_loop:
        bra.s   level4_loop

| Setting T traces the instruction after the ORI.
set_trace:
        ori.w   #0x8000, sr
        moveq   #1, d7
after_traced:
        nop
trace_handler:
        moveq   #3, d6
trace_loop:
        bra.s   trace_loop
