| Reads the STE's extended joystick ports with no bus-error vector set (RAM is cleared, so a
| bus error would send the processor to address 0), selects the joypad's first key group, reads
| again and stops at `done`.
        .text
        .globl  _start
_start:
        move.w  0xffff9200.w, d0        | fire inputs and DIP switches
        move.w  0xffff9202.w, d1        | direction inputs and output lines
        move.w  #0xfffe, 0xffff9202.w   | port A: output 0 low
        move.w  0xffff9202.w, d2
        move.w  0xffff9200.w, d3
        move.b  0xffff9211.w, d4        | paddle 0 X
done:
        stop    #0x2700
        bra.s   done
