| Single instructions of the arithmetic group. Each case starts at its label; the test sets the
| registers and memory from its table row and runs one instruction (or two, for the pairs).
        .text
        .globl  _start
_start:
add_l_predec:
        add.l   -(a0), d0
        nop
add_w_to_mem:
        add.w   d0, (a0)
        nop
sub_b_dn:
        sub.b   d1, d0
        nop
sub_l_index:
        sub.l   0(a0,d1.w), d0
        nop
cmp_l_dn:
        cmp.l   d1, d0
        nop
cmp_b_imm:
        cmp.b   #0x80, d0
        nop
adda_w_dn:
        adda.w  d1, a0
        nop
suba_l_dn:
        suba.l  d1, a0
        nop
cmpa_w_dn:
        cmpa.w  d1, a0
        nop
addq_w_an:
        addq.w  #1, a0
        nop
subq_l_dn:
        subq.l  #8, d0
        nop
addq_b_mem:
        addq.b  #8, (a0)
        nop
addi_l_mem:
        addi.l  #1, (a0)
        nop
subi_w_dn:
        subi.w  #1, d0
        nop
cmpi_l_dn:
        cmpi.l  #1, d0
        nop
addx_l_dn:
        addx.l  d1, d0
        nop
subx_b_dn:
        subx.b  d1, d0
        nop
addx_w_mem:
        addx.w  -(a0), -(a0)
        nop
cmpm_b:
        cmpm.b  (a0)+, (a0)+
        nop
neg_w_dn:
        neg.w   d0
        nop
negx_b_mem:
        negx.b  (a0)
        nop
clr_l_dn:
        clr.l   d0
        nop
clr_w_mem:
        clr.w   (a0)
        nop
tst_l_absl:
        tst.l   0x3000.l
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
muls_dn:
        muls.w  d1, d0
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

| A 4n+2 cycle count shares its last bus slot with a taken short Bcc (not BRA).
cmp_bne:
        cmp.l   d0, d1
        bne.s   cmp_bne_target
        nop
cmp_bne_target:
        nop
cmp_bra:
        cmp.l   d0, d1
        bra.s   cmp_bra_target
        nop
cmp_bra_target:
        nop

| Writes over the next opcode: "moveq #1,d1" (0x7201) becomes "moveq #1,d7" (0x7e01).
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
