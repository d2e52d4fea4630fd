| Cases for the disassembler: each case is one instruction under its own label, so the test
| knows where it starts and how long it is (up to the next label). The origin is 0x1000.
| Encodings that the assembler refuses in 68000 mode (the 68010 additions and opcodes that no
| processor defines) are written as data words.
        .text
        .globl  _start
_start:
c_bra_short:    bra.s   .+4
c_nop:          nop
c_illegal:      illegal
c_movec_vbr:    .word   0x4E7A, 0x0801
c_moveq_80:     moveq   #-128, d0
c_movem_d0a6:   movem.l d0-a6, -(sp)
c_movem_d6a1:   movem.l d6-a1, (a0)
c_movem_sparse: movem.l d0/a0/a7, (a0)
c_movem_single: movem.w d3, -(a0)
c_movem_empty:  movem.l #0, (a0)
c_movem_load:   movem.w (a7)+, d0-d3/a5
c_movem_predec: movem.l d0-d2/a4, -(a7)
c_movem_abs:    movem.l 0x400.w, d0/d2/d4/d6/a0/a2/a4/a6
c_index_neg:    lea     (-4, a0, d1.w), a2
c_index_an:     tst.b   (-4, a0, a1.w)
c_abs_short:    tst.w   0x8240.w
| Every addressing mode as a source and as a destination.
c_ea_dn:        move.w  d3, d1
c_ea_an:        move.w  a3, d1
c_ea_ind:       move.w  (a3), d1
c_ea_postinc:   move.w  (a3)+, d1
c_ea_predec:    move.w  -(a3), d1
c_ea_disp:      move.w  (0x10, a3), d1
c_ea_disp_neg:  move.w  (-0x8000, a3), d1
c_ea_index:     move.w  (0x7F, a3, d4.l), d1
c_ea_abs_w:     move.w  0x400.w, d1
c_ea_abs_l:     move.w  0xFC0000, d1
c_ea_pc:        move.w  (c_ea_pc, pc), d1
c_ea_pc_index:  move.w  (c_ea_pc_index, pc, a2.w), d1
c_ea_imm_b:     move.b  #0x12, d1
c_ea_imm_w:     move.w  #0x1234, d1
c_ea_imm_l:     move.l  #0x12345678, d1
c_ea_to_an:     move.l  d0, a1
c_ea_to_disp:   move.l  (-2, a0), (2, a1)
c_ea_to_abs_l:  move.l  #-1, 0xFF8240
| The other instruction groups.
c_ori_ccr:      ori.b   #0x1F, ccr
c_andi_sr:      andi.w  #0xF8FF, sr
c_eori_b:       eori.b  #0x80, d1
c_addi_l:       addi.l  #0x10000, (a0)+
c_cmpi_w:       cmpi.w  #-1, 0x400.w
c_btst_static:  btst    #3, d0
c_bset_static:  bset    #7, (2, a0)
c_btst_dynamic: btst    d1, #5
c_bchg_dynamic: bchg    d2, (a0)
c_movep_load:   movep.w (8, a0), d1
c_movep_store:  movep.l d1, (0, a0)
c_movep_neg:    movep.l (-6, a2), d3
c_negx_b:       negx.b  d0
c_clr_l:        clr.l   -(a7)
c_not_w:        not.w   (a2)
c_tst_l:        tst.l   d7
c_from_sr:      move.w  sr, d0
c_from_ccr:     .word   0x42C0
c_to_ccr:       move.w  #0x1F, ccr
c_to_sr:        move.w  #0x2700, sr
c_chk:          chk.w   (a0), d1
c_lea_pc:       lea     (c_lea_pc, pc), a0
c_nbcd:         nbcd    d0
c_pea:          pea     0x20.w
c_swap:         swap    d5
c_ext_w:        ext.w   d1
c_ext_l:        ext.l   d2
c_tas:          tas     (a0)
c_trap:         trap    #15
c_link:         link    a6, #-8
c_unlk:         unlk    a6
c_to_usp:       move.l  a0, usp
c_from_usp:     move.l  usp, a1
c_reset:        reset
c_stop:         stop    #0x2700
c_stop_narrow:  stop    #0x700
c_rte:          rte
c_rtd:          .word   0x4E74, 0xFFFC
c_rts:          rts
c_trapv:        trapv
c_rtr:          rtr
c_movec_to:     .word   0x4E7B, 0x8000
c_movec_bad:    .word   0x4E7A, 0x0002
c_jsr:          jsr     (a0)
c_jmp:          jmp     0xFC0030
c_addq:         addq.w  #8, a0
c_subq:         subq.l  #1, d0
c_st:           st      d0
c_shi:          shi     (a0)
c_dbne:         dbne    d1, c_dbne
c_beq_s:        beq.s   .
c_bsr_s:        bsr.s   .
c_bsr_w:        bsr.w   .
c_bvs_w:        bvs.w   c_nop
c_or_b:         or.b    (a0), d0
c_and_l:        and.l   d1, (a0)
c_add_w:        add.w   a1, d2
c_sub_b:        sub.b   d3, -(a1)
c_cmp_l:        cmp.l   #1, d0
c_eor_w:        eor.w   d0, d1
c_adda_w:       adda.w  d0, a1
c_suba_l:       suba.l  #4, a7
c_cmpa_w:       cmpa.w  (a0), a2
c_divu:         divu.w  #10, d0
c_divs:         divs.w  d1, d0
c_mulu:         mulu.w  (a0)+, d0
c_muls:         muls.w  d1, d2
c_addx_d:       addx.b  d1, d0
c_subx_m:       subx.l  -(a1), -(a0)
c_abcd_m:       abcd    -(a1), -(a0)
c_sbcd_d:       sbcd    d1, d0
c_cmpm:         cmpm.w  (a1)+, (a0)+
c_exg_dd:       exg     d1, d2
c_exg_aa:       exg     a1, a2
c_exg_da:       exg     d1, a2
c_asl_imm:      asl.b   #8, d0
c_lsr_reg:      lsr.w   d1, d2
c_roxl_imm:     roxl.l  #1, d0
c_ror_reg:      ror.w   d0, d1
c_asr_mem:      asr.w   (a0)
c_roxl_mem:     roxl.w  (2, a1)
| Encodings the 68000 rejects.
c_line_a:       .word   0xA000
c_line_f:       .word   0xF200
c_lea_dn:       .word   0x41C0
c_move_b_an:    .word   0x1208
c_addi_pc:      .word   0x063A, 0x0001, 0x0002
c_moves:        .word   0x0E10, 0x0000
c_control_hole: .word   0x4E7C
c_exg_bad:      .word   0xC180
c_bitfield:     .word   0xE8C0, 0x0000
c_moveq_bit8:   .word   0x7100
c_ori_ccr_long: .word   0x00BC, 0x0000, 0x0001
| Branch targets that depend on the address.
        .org    0x1000
c_dbra:         dbra    d0, c_dbra
c_bra_word:     bra.w   .+0x12
c_end:
