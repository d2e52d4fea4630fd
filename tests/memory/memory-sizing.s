| origin 0xFC0000
| Memory sizing as the ST's start-up does it, run from ROM: both banks configured as 2 MB,
| a pattern at the start of each, then for each bank the addresses where a smaller bank of
| chips would show the pattern again (ST and STE decode rows and columns differently, so both
| machines' addresses are tried, the 128 KB ones first). Leaves the register value at 0x424,
| the memory top at 0x42E, as TOS does, and stops.
        .text
        .globl  _start
_start:
        move.b  #0x0a, 0xffff8001.w
        lea     0x8.w, a0
        lea     0x200008, a1
        move.w  #0x5a5a, d0
        moveq   #15, d2
fill:
        move.w  d0, (a0)+
        move.w  d0, (a1)+
        add.w   #0x1234, d0
        dbra    d2, fill

        move.l  #0x200000, d1           | bank 1 first, then bank 0
        moveq   #0, d5                  | memory top
        moveq   #0, d6                  | register value
bank:
        lsl.w   #2, d6
        lea     0x40008, a0             | 128 KB on an STE
        bsr.s   check
        beq.s   size_128k
        lea     0x208.w, a0             | 128 KB on an ST
        bsr.s   check
        beq.s   size_128k
        lea     0x80008, a0             | 512 KB on an STE
        bsr.s   check
        beq.s   size_512k
        lea     0x408.w, a0             | 512 KB on an ST
        bsr.s   check
        beq.s   size_512k
        lea     0x8.w, a0               | 2 MB, or nothing
        bsr.s   check
        bne.s   next_bank
        addq.w  #2, d6
        add.l   #0x200000, d5
        bra.s   next_bank
size_512k:
        addq.w  #1, d6
        add.l   #0x80000, d5
        bra.s   next_bank
size_128k:
        add.l   #0x20000, d5
next_bank:
        sub.l   #0x200000, d1
        bcc.s   bank
| The banks were taken 1 then 0 and shifted up as they came: swap the two fields.
        move.w  d6, d0
        lsr.w   #2, d0
        and.w   #3, d6
        lsl.w   #2, d6
        or.w    d0, d6
        move.b  d6, 0xffff8001.w
        move.b  d6, 0x424.w
        move.l  d5, 0x42e.w
done:
        stop    #0x2700
        bra.s   done

| Z set when the 16 words from bank base d1 + a0 hold the pattern.
check:
        add.l   d1, a0
        move.w  #0x5a5a, d0
        moveq   #15, d2
check_loop:
        cmp.w   (a0)+, d0
        bne.s   check_end
        add.w   #0x1234, d0
        dbra    d2, check_loop
        moveq   #0, d0                  | found: Z set
check_end:
        rts
