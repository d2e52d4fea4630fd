| System control. Each case starts at its label; the test runs one instruction.
        .text
        .globl  _start
_start:
trap_5:
        trap    #5
trap_5_next:
        nop
trap_on_overflow:
        trapv
trap_on_overflow_next:
        nop
illegal_here:
        illegal
        nop
reset_here:
        reset
        nop
rte_here:
        rte
        nop
stop_here:
        stop    #0x2000
        nop
link_a6:
        link    a6, #-8
        nop
unlink_a6:
        unlk    a6
        nop
link_a7:
        link    a7, #-8
        nop
unlink_a7:
        unlk    a7
        nop
target:
        nop
