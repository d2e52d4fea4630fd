| Reads the keyboard ACIA by interrupt, as an operating system does: resets the keyboard
| processor, then stores every byte received in `received` (count in `count`). MFP vector
| base 0x40, automatic end of interrupt; every other vector marks `fault`.
        .equ    ACIA_CTRL, 0xFFFC00
        .equ    ACIA_DATA, 0xFFFC02
        .equ    MFP, 0xFFFA00
        .equ    AER, MFP+0x03
        .equ    IERB, MFP+0x09
        .equ    IMRB, MFP+0x15
        .equ    VR, MFP+0x17

        .text
        .globl  _start
_start:
        move.w  #0x2700, sr
        move.l  #acia_irq, 0x118.w      | vector 0x46: MFP channel 6
        clr.b   AER                     | GPIP 4 interrupts on its falling edge
        move.b  #0x40, VR
        move.b  #0x03, ACIA_CTRL        | master reset
        move.b  #0x96, ACIA_CTRL        | receive interrupts on, 8 bits, clock / 64
        move.b  #0x40, IERB
        move.b  #0x40, IMRB
        moveq   #0x80-256, d0
        bsr     send
        moveq   #0x01, d0
        bsr     send
        move.w  #0x2500, sr             | level 6 only
idle:
        bra     idle

| Sends d0 once the transmit register is empty.
send:
        btst    #1, ACIA_CTRL
        beq     send
        move.b  d0, ACIA_DATA
        rts

acia_irq:
        movem.l d0-d1/a0, -(sp)
next:
        move.b  ACIA_CTRL, d0
        btst    #0, d0                  | a byte waiting?
        beq     done
        move.b  ACIA_DATA, d0
        move.w  count, d1
        cmp.w   #255, d1
        bhi     next
        lea     received, a0
        move.b  d0, 0(a0,d1.w)
        addq.w  #1, count
        bra     next
done:
        movem.l (sp)+, d0-d1/a0
        rte

        .globl  unexpected
unexpected:
        move.l  #1, fault
        rte

        .data
        .globl  count, received, fault
fault:  .long   0
count:  .word   0
received:
        .space  256
