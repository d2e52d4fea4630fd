| origin 0x0
| Boot-sector program: sets a palette of its own, fills the screen with eight bands of
| colour stripes and leaves a marker in RAM once the picture is drawn.
        .equ    v_bas_ad, 0x44E
        .equ    palette, 0xFF8240
        .equ    marker, 0x100000
        .equ    marker_value, 0x44524157      | "DRAW"
        .text
        .globl  _start
_start:
        lea     colours(pc), a0
        lea     palette, a1
        moveq   #15, d0
copy:
        move.w  (a0)+, (a1)+
        dbra    d0, copy
        move.l  v_bas_ad.w, a0
        move.w  #199, d1                | lines
line:
        move.w  d1, d2
        lsr.w   #3, d2                  | a band of 8 lines: colour index (line / 8) & 15
        moveq   #0, d3
        moveq   #0, d4
        moveq   #0, d5
        moveq   #0, d6
        btst    #0, d2
        beq.s   p1
        moveq   #-1, d3
p1:     btst    #1, d2
        beq.s   p2
        moveq   #-1, d4
p2:     btst    #2, d2
        beq.s   p3
        moveq   #-1, d5
p3:     btst    #3, d2
        beq.s   p4
        moveq   #-1, d6
p4:     moveq   #19, d0                 | 20 groups of 16 pixels
group:
        move.w  d3, (a0)+
        move.w  d4, (a0)+
        move.w  d5, (a0)+
        move.w  d6, (a0)+
        dbra    d0, group
        dbra    d1, line
        move.l  #marker_value, marker
hang:
        bra.s   hang

colours:
        .word   0x000, 0x700, 0x070, 0x007, 0x770, 0x707, 0x077, 0x777
        .word   0x333, 0x500, 0x050, 0x005, 0x550, 0x505, 0x055, 0x555
