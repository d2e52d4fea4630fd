| Program flow. Each case starts at its label; the test runs one instruction (or two, for the
| pairs) and checks where the PC went.
        .text
        .globl  _start
_start:
jmp_ind:
        jmp     (a0)
jsr_ind:
        jsr     (a0)
jsr_ind_return:
        nop
return:
        rts
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
