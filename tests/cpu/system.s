| System control. Each case starts at its label; the test runs one instruction.
        .text
        .globl  _start
_start:
trap_on_overflow:
        trapv
trap_on_overflow_next:
        nop
