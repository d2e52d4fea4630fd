| Single instructions of the logic group. Each case starts at its label; the test sets the
| registers and memory from its table row and runs one instruction.
        .text
        .globl  _start
_start:
andi_l_dn:
        andi.l  #0xff00ff00, d0
        nop
ori_l_dn:
        ori.l   #0x80000000, d0
        nop
eori_b_dn:
        eori.b  #0xff, d0
        nop
and_l_dn:
        and.l   d1, d0
        nop
and_l_predec:
        and.l   -(a0), d0
        nop
or_l_index:
        or.l    0(a0,d1.w), d0
        nop
and_w_to_mem:
        and.w   d0, (a0)
        nop
eor_l_to_mem:
        eor.l   d0, (a0)+
        nop
eor_l_dn:
        eor.l   d1, d0
        nop
not_l_dn:
        not.l   d0
        nop
not_b_mem:
        not.b   (a0)
        nop
andi_b_mem:
        andi.b  #0x0f, (a0)
        nop
eori_w_absl:
        eori.w  #0xffff, 0x3000.l
        nop
ori_to_ccr:
        ori.b   #0xff, ccr
        nop
andi_to_ccr:
        andi.b  #0x04, ccr
        nop
eori_to_ccr:
        eori.b  #0x11, ccr
        nop
andi_to_sr:
        andi.w  #0xfffe, sr
        nop
ori_to_sr:
        ori.w   #0x0001, sr
        nop
eori_to_sr:
        eori.w  #0x2000, sr
        nop

| AND and EOR to memory prefetch the next opcode before they write: these patch the
| "moveq #1,d1" that follows them in memory, but the old one runs.
and_into_next:
        and.b   d0, (a0)
and_patched:
        moveq   #1, d1
        nop
eor_into_next:
        eor.b   d0, (a0)
eor_patched:
        moveq   #1, d1
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
