| Program flow. Each case starts at its label; the test runs one instruction (or the few its
| table row names) and checks where the PC went.
        .text
        .globl  _start
_start:
bra_short:
        bra.s   bra_short_to
        nop
bra_short_to:
        nop
bne_short:
        bne.s   bne_short_to
bne_short_next:
        nop
bne_short_to:
        nop
bne_word:
        bne.w   bne_word_to
bne_word_next:
        nop
bne_word_to:
        nop
bsr_short:
        bsr.s   subroutine
bsr_short_return:
        nop
bsr_word:
        bsr.w   subroutine
bsr_word_return:
        nop
subroutine:
        rts
dbeq_loop:
        dbeq    d0, dbeq_loop
dbeq_next:
        nop
jmp_ind:
        jmp     (a0)
jmp_abs_l:
        jmp     target.l
jmp_pc_index:
        jmp     target(pc, d1.w)
jsr_ind:
        jsr     (a0)
jsr_ind_return:
        nop
jsr_abs_w:
        jsr     target.w
jsr_abs_w_return:
        nop
jsr_pc_disp:
        jsr     target(pc)
jsr_pc_disp_return:
        nop
return:
        rts
return_ccr:
        rtr
cmp_then_bne:
        cmp.l   d0, d1
        bne.s   target
cmp_then_bra:
        cmp.l   d0, d1
        bra.s   target
cmp_then_bne_word:
        cmp.l   d0, d1
        bne.w   target
target:
        nop
| Copied into ROM by the test: runs there, then jumps back through A1.
rom_routine:
        moveq   #7, d7
        jmp     (a1)
rom_routine_end:
| Copied to the cartridge's last 8 bytes and the ROM's first word by the test: the ROM's
| first instruction branches back out of its region, into the cartridge.
cartridge_tail:
        moveq   #5, d7
        jmp     (a1)
        nop
        nop
rom_head:
        bra.w   cartridge_tail
rom_head_end:
back_in_ram:
        nop
