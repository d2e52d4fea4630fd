| Programs that show how the MFP behaves, one entry point each. The test starts the machine at
| an entry and reads the results from the labels at the end. Vector base 0x40, automatic end
| of interrupt; every timer handler counts and logs its channel.
        .equ    MFP, 0xFFFA00
        .equ    GPIP, MFP+0x01
        .equ    DDR, MFP+0x05
        .equ    IERA, MFP+0x07
        .equ    IERB, MFP+0x09
        .equ    IPRA, MFP+0x0B
        .equ    IPRB, MFP+0x0D
        .equ    IMRA, MFP+0x13
        .equ    IMRB, MFP+0x15
        .equ    VR, MFP+0x17
        .equ    TACR, MFP+0x19
        .equ    TBCR, MFP+0x1B
        .equ    TCDCR, MFP+0x1D
        .equ    TADR, MFP+0x1F
        .equ    TBDR, MFP+0x21
        .equ    TCDR, MFP+0x23
        .equ    TDDR, MFP+0x25
        .equ    UCR, MFP+0x29
        .equ    TSR, MFP+0x2D
        .equ    UDR, MFP+0x2F

        .text
        .globl  _start
_start:
setup:
        move.l  #vbl, 0x70.w
        move.l  #timer_a, 0x134.w
        move.l  #timer_b, 0x120.w
        move.l  #timer_c, 0x114.w
        move.l  #timer_d, 0x110.w
        clr.b   TACR
        clr.b   TBCR
        clr.b   TCDCR
        clr.b   IERA
        clr.b   IERB
        clr.b   IMRA
        clr.b   IMRB
        move.b  #0x40, VR
        rts

| Timer C at 200 Hz while every VBL rewrites IERB, timer D's control and data, and timer C's
| own data register with the value it has.
hz200:
        bsr     setup
        move.l  #rewrite_vbl, vbl_hook
        move.b  #192, TCDR
        move.b  #100, TDDR
        move.b  #0x30, IERB
        move.b  #0x30, IMRB
        move.b  #0x51, TCDCR            | C divide by 64, D divide by 4
        move.w  #0x2300, sr
        bra     spin
rewrite_vbl:
        move.b  #0x20, IERB
        move.b  #0x30, IERB
        move.b  #0x52, TCDCR
        move.b  #0x51, TCDCR
        move.b  #77, TDDR
        move.b  #192, TCDR
        rte

| Timer D runs with its interrupt disabled; its data register is read eight times.
read_d:
        bsr     setup
        move.b  #200, TDDR
        move.b  #0x01, TCDCR            | divide by 4
        lea     reads, a0
        moveq   #7, d1
1:      move.b  TDDR, (a0)+
        nop
        nop
        nop
        dbra    d1, 1b
        bra     done

| Timer D as TOS leaves it (divide 4, data 2: the serial clock, interrupt off) read 64 times by
| a loop of 52 cycles, two of the timer's 26.11-cycle periods less 0.22 cycles: the count steps
| 2, 1 every 13.05 cycles, so the reads drift through both values. `read_loop_short` takes one
| nop out (48 cycles).
read_loop:
        lea     2f, a1
        bra.s   1f
read_loop_short:
        lea     3f, a1
1:      bsr     setup
        move.b  #2, TDDR
        move.b  #192, TCDR
        move.b  #0x20, IERB
        move.b  #0x20, IMRB
        move.b  #0x51, TCDCR            | timer C divide 64 (its interrupt on), timer D divide 4
        lea     reads, a0
        moveq   #0, d1
        move.b  0xFFFFFA25.w, d2
        move.w  #63, d7
        jmp     (a1)
2:      move.b  0xFFFFFA25.w, d0
        cmp.b   d0, d2
        beq.s   4f
        addq.w  #1, d1                  | a change: the count moved
        move.b  d0, d2
4:      nop
        nop
        dbra    d7, 2b
        bra.s   5f
3:      move.b  0xFFFFFA25.w, d0
        cmp.b   d0, d2
        beq.s   4f
        addq.w  #1, d1
        move.b  d0, d2
4:      nop
        dbra    d7, 3b
5:      move.w  d1, loop_changes
        bra     done

| At IPL 7 the pending bit is seen by polling, and the request waits for the CPU.
poll_ipl7:
        bsr     setup
        move.w  #0x2700, sr
        move.b  #0x20, IERB
        move.b  #0x20, IMRB
        move.b  #2, TCDR
        move.b  #0x10, TCDCR            | C divide by 4, 2 counts
        move.l  #10000, d1
1:      btst    #5, IPRB
        bne.s   2f
        subq.l  #1, d1
        bne.s   1b
2:      move.l  d1, poll_left
        clr.b   TCDCR
        move.w  #0x2500, sr
        nop
        nop
        move.l  c_count, c_after
        bra     done

| Timer C's request waits first, then timer B's; the MFP names timer B first when the CPU
| lets level 6 in, since its channel is higher.
priority:
        bsr     setup
        move.w  #0x2700, sr
        move.b  #0x20, IERB
        move.b  #0x20, IMRB
        move.b  #0x01, IERA
        move.b  #0x01, IMRA
        move.b  #2, TCDR
        move.b  #0x10, TCDCR
1:      btst    #5, IPRB
        beq.s   1b
        clr.b   TCDCR
        move.b  #2, TBDR
        move.b  #1, TBCR                | B delay, divide by 4
2:      btst    #0, IPRA
        beq.s   2b
        clr.b   TBCR
        move.w  #0x2500, sr
        nop
        nop
        bra     done

| A request disabled after it was posted never arrives; one masked after it was posted waits
| until it is unmasked.
disable:
        bsr     setup
        move.w  #0x2700, sr
        move.b  #0x20, IERA
        move.b  #0x20, IMRA
        move.b  #2, TADR
        move.b  #1, TACR
1:      btst    #5, IPRA
        beq.s   1b
        clr.b   TACR
        clr.b   IERA
        move.w  #0x2300, sr
        bsr     wait
        move.l  a_count, a_disabled
        move.w  #0x2700, sr
        move.b  #0x20, IERA
        move.b  #1, TACR
2:      btst    #5, IPRA
        beq.s   2b
        clr.b   TACR
        clr.b   IMRA
        move.w  #0x2300, sr
        bsr     wait
        move.l  a_count, a_masked
        move.b  #0x20, IMRA
        nop
        nop
        move.l  a_count, a_unmasked
        bra     done

| 300 bytes sent through the USART, each once its transmit buffer is empty again.
send:
        bsr     setup
        move.b  #1, TDDR                | timer D's output at 307200 Hz: with a clock of x1,
        move.b  #0x01, TCDCR            | 307200 baud
        move.b  #0x08, UCR              | 8 bits, 1 stop bit, no parity
        move.b  #1, TSR                 | transmitter on
        move.w  #299, d1
1:      btst    #7, TSR
        beq.s   1b
        move.b  d1, UDR
        dbra    d1, 1b
        bra     done

| A GPIP write goes to the output latch: input lines still read the pins.
gpip:
        bsr     setup
        clr.b   DDR
        clr.b   GPIP
        move.b  GPIP, gpip_in
        move.b  #0xFF, DDR
        move.b  GPIP, gpip_out
        bra     done

wait:
        move.w  #1000, d0
1:      dbra    d0, 1b
        rts
done:
        move.l  #1, finished
spin:
        bra.s   spin

vbl:
        addq.l  #1, vbl_count
        move.l  vbl_hook, -(sp)
        rts                             | to the hook, which ends with RTE
vbl_plain:
        rte

timer_a:
        addq.l  #1, a_count
        move.w  #13, -(sp)
        bra.s   log
timer_b:
        addq.l  #1, b_count
        move.w  #8, -(sp)
        bra.s   log
timer_c:
        addq.l  #1, c_count
        move.w  #5, -(sp)
        bra.s   log
timer_d:
        addq.l  #1, d_count
        move.w  #4, -(sp)
log:
        move.l  a6, -(sp)
        movea.l order_at, a6
        cmpa.l  #order_end, a6
        beq.s   1f
        move.b  5(sp), (a6)+
        move.l  a6, order_at
1:      movea.l (sp)+, a6
        addq.l  #2, sp
        rte

unexpected:
        move.l  #0xBAD0BAD0, fault
        bra.s   unexpected

        .even
vbl_hook:   .long   vbl_plain
order_at:   .long   order
order:      .space  8
order_end:
finished:   .long   0
fault:      .long   0
vbl_count:  .long   0
a_count:    .long   0
b_count:    .long   0
c_count:    .long   0
d_count:    .long   0
poll_left:  .long   0
c_after:    .long   0
a_disabled: .long   0
a_masked:   .long   0
a_unmasked: .long   0
reads:      .space  8
loop_changes: .word 0
gpip_in:    .byte   0
gpip_out:   .byte   0
