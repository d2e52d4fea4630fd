| origin 0x0
| Boot-sector program: says hello through NF_STDERR, one call for the line and one a
| character for the second, and ends the run through NF_EXIT with code 3.
        .text
        .globl  _start
_start:
        pea     nf_stderr_name(pc)
        bsr.s   nf_id
        addq.l  #4, sp
        move.l  d0, d7                  | NF_STDERR's ID
        beq.s   hang
        pea     line(pc)
        move.l  d7, -(sp)
        bsr.s   nf_call
        addq.l  #8, sp
        lea     chars(pc), a3
next:
        tst.b   (a3)
        beq.s   done
        clr.w   -(sp)                   | the character and a NUL, as a string of one
        move.b  (a3)+, (sp)
        move.l  sp, -(sp)
        move.l  d7, -(sp)
        bsr.s   nf_call
        lea     10(sp), sp
        bra.s   next
done:
        pea     nf_exit_name(pc)
        bsr.s   nf_id
        addq.l  #4, sp
        move.l  #3, -(sp)
        move.l  d0, -(sp)
        bsr.s   nf_call
        addq.l  #8, sp
hang:
        bra.s   hang

nf_id:
        .word   0x7300
        rts
nf_call:
        .word   0x7301
        rts

nf_stderr_name: .asciz  "NF_STDERR"
nf_exit_name:   .asciz  "NF_EXIT"
line:           .asciz  "Hello from the ST\n"
chars:          .asciz  "one by one\n"
        .even
