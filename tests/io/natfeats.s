| The native-feature calls as programs make them: through stubs reached by BSR, arguments on
| the active stack, popped by the caller. The test sets a0-a2 and d6 before each case.
        .text
        .globl  _start
_start:
lookup:                                 | a0: the name
        move.l  a0, -(sp)
        bsr.s   nf_id
        addq.l  #4, sp
lookup_done:
        bra.s   lookup_done
call:                                   | d6: the ID; a1, a2: the arguments
        move.l  a2, -(sp)
        move.l  a1, -(sp)
        move.l  d6, -(sp)
        bsr.s   nf_call
        lea     12(sp), sp
call_done:
        bra.s   call_done
illegal_handler:                        | vector 4 with the native features off
        moveq   #4, d3
illegal_loop:
        bra.s   illegal_loop

nf_id:
        .word   0x7300
        rts
nf_call:
nf_call_word:
        .word   0x7301
        rts

name_stderr:    .asciz  "NF_STDERR"
name_name:      .asciz  "NF_NAME"
name_version:   .asciz  "NF_VERSION"
name_shutdown:  .asciz  "NF_SHUTDOWN"
name_exit:      .asciz  "NF_EXIT"
name_xhdi:      .asciz  "XHDI"
name_config:    .asciz  "NF_CONFIG"
name_lower:     .asciz  "nf_stderr"
text:           .asciz  "a line\n"
        .even
