| Single instructions of the shift and bit groups. Each case starts at its label; the test
| sets the registers and memory from its table row and runs one instruction.
        .text
        .globl  _start
_start:
lsl_l_reg:
        lsl.l   d1, d0
        nop
lsl_w_imm8:
        lsl.w   #8, d0
        nop
asl_b_imm1:
        asl.b   #1, d0
        nop
asl_b_reg:
        asl.b   d1, d0
        nop
asl_l_reg:
        asl.l   d1, d0
        nop
lsr_l_reg:
        lsr.l   d1, d0
        nop
roxl_w_reg:
        roxl.w  d1, d0
        nop
btst_dn_dn:
        btst    d1, d0
        nop
bclr_dn_dn:
        bclr    d1, d0
        nop
bclr_imm_dn:
        bclr    #31, d0
        nop
bchg_imm_dn:
        bchg    #33, d0
        nop
bset_dn_mem:
        bset    d1, (a0)
        nop
btst_dn_imm:
        btst    d1, #5
        nop
| BTST #n,#imm, which the assembler refuses: the test sets this opcode's operand field to
| #imm (mode 7, register 4); the word after the bit number is then the immediate.
btst_imm_imm:
        btst    #9, d4
        .word   0x0002
btst_imm_imm_end:
        nop
