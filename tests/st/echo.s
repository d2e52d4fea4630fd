| origin 0x0
| Boot-sector program: reads a line from the keyboard (BIOS Bconin on the console) and sends
| each character to the serial port and the printer (Bconout on AUX and PRT), up to and
| including the Return; then "<end>" to both. A marker in RAM says when it waits for the
| keyboard and when it is done.
        .equ    marker, 0x100000
        .equ    marker_value, 0x4543484F      | "ECHO"
        .equ    ready_value, 0x52454459       | "REDY": waiting for the keyboard
        .text
        .globl  _start
_start:
        move.l  #ready_value, marker
read:
        move.w  #2, -(sp)               | CON
        move.w  #2, -(sp)               | Bconin
        trap    #13
        addq.l  #4, sp
        move.w  d0, d7
        bsr.s   both
        cmp.b   #13, d7
        bne.s   read
        lea     tail(pc), a3
more:
        move.b  (a3)+, d7
        beq.s   done
        bsr.s   both
        bra.s   more
done:
        move.l  #marker_value, marker
hang:
        bra.s   hang

| The character in d7 to AUX (1) and PRT (0).
both:
        moveq   #1, d6
out:
        move.w  d7, -(sp)
        move.w  d6, -(sp)
        move.w  #3, -(sp)               | Bconout
        trap    #13
        addq.l  #6, sp
        dbra    d6, out
        rts

tail:   .asciz  "<end>"
        .even
