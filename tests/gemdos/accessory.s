| origin 0x0
| A desk accessory for drive C:, made into a program file by the test (which relocates the
| AES parameter block's six longs). The AES loads it with Pexec 3 and starts it in user mode
| with its basepage in a0 and no stack of its own. It calls appl_init and menu_register,
| writes both results and its basepage's text address into C:\ACC.OUT, then waits in
| evnt_mesag for good, as an accessory does.
        .text
        .globl  _start, pb_control, pb_global, pb_intin, pb_intout, pb_addrin, pb_addrout
        .globl  program_end, aes_control
_start:
        lea     stack_top(pc), sp
        lea     vars(pc), a5            | the variables, as offsets from here
        move.l  8(a0), text_base-vars(a5) | p_tbase: where the AES started us
        lea     aes_control(pc), a3
        move.l  #0x000A0000, (a3)       | appl_init: opcode 10, no intin
        move.l  #0x00010000, 4(a3)      | one intout, no addrin
        clr.w   8(a3)
        bsr     aes
        move.w  aes_intout(pc), d7
        move.w  d7, results-vars(a5)
        move.l  #0x00230001, (a3)       | menu_register: opcode 35, one intin
        move.l  #0x00010001, 4(a3)      | one intout, one addrin
        clr.w   8(a3)
        move.w  d7, aes_intin-vars(a5)
        lea     title(pc), a0
        move.l  a0, aes_addrin-vars(a5)
        bsr     aes
        move.w  aes_intout(pc), results+2-vars(a5)
        clr.w   -(sp)                   | Fcreate("C:\ACC.OUT", 0)
        pea     out_name(pc)
        move.w  #0x3C, -(sp)
        trap    #1
        addq.l  #8, sp
        move.w  d0, d6
        bmi.s   listen
        pea     results(pc)             | Fwrite(handle, 8, results)
        move.l  #8, -(sp)
        move.w  d6, -(sp)
        move.w  #0x40, -(sp)
        trap    #1
        lea     12(sp), sp
        move.w  d6, -(sp)               | Fclose(handle)
        move.w  #0x3E, -(sp)
        trap    #1
        addq.l  #4, sp
listen:
        move.l  #0x00170000, (a3)       | evnt_mesag: opcode 23, no intin
        move.l  #0x00010001, 4(a3)      | one intout, one addrin
        clr.w   8(a3)
        lea     message(pc), a0
        move.l  a0, aes_addrin-vars(a5)
        bsr     aes
        addq.l  #1, messages-vars(a5)
        bra.s   listen

aes:
        lea     pb_control(pc), a0
        move.l  a0, d1
        move.w  #200, d0
        trap    #2
        rts

        .even
pb_control:     .long   aes_control
pb_global:      .long   aes_global
pb_intin:       .long   aes_intin
pb_intout:      .long   aes_intout
pb_addrin:      .long   aes_addrin
pb_addrout:     .long   aes_addrout
vars:
aes_control:    .space  10
aes_global:     .space  30
aes_intin:      .space  16
aes_intout:     .space  16
aes_addrin:     .space  8
aes_addrout:    .space  8
message:        .space  16
results:        .word   -1, -1          | appl_init, menu_register
text_base:      .long   0               | written with them
messages:       .long   0
out_name:       .asciz  "C:\\ACC.OUT"
title:          .asciz  "  Vexil accessory"
        .even
stack:          .space  1024
stack_top:
program_end:
