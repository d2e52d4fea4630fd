| origin 0x0
| A GEMDOS program for drive C:, made into a program file by the test (which relocates the
| longs at the reloc_ labels): creates WORK.TMP, writes the payload, seeks to offset 4, reads 8
| bytes back, writes them into READBACK.TXT, renames WORK.TMP to DONE.DAT and ends.
        .text
        .globl  _start, reloc_work, reloc_buffer, payload, payload_end, program_end
_start:
        clr.w   -(sp)                   | Fcreate("C:\WORK.TMP", 0)
        move.l  reloc_work(pc), -(sp)
        move.w  #0x3C, -(sp)
        trap    #1
        addq.l  #8, sp
        move.w  d0, d7
        bmi     fail
        pea     payload(pc)             | Fwrite(handle, length, payload)
        move.l  #payload_end - payload, -(sp)
        move.w  d7, -(sp)
        move.w  #0x40, -(sp)
        trap    #1
        lea     12(sp), sp
        clr.w   -(sp)                   | Fseek(4, handle, 0)
        move.w  d7, -(sp)
        move.l  #4, -(sp)
        move.w  #0x42, -(sp)
        trap    #1
        lea     10(sp), sp
        move.l  reloc_buffer(pc), -(sp) | Fread(handle, 8, buffer)
        move.l  #8, -(sp)
        move.w  d7, -(sp)
        move.w  #0x3F, -(sp)
        trap    #1
        lea     12(sp), sp
        move.w  d7, -(sp)               | Fclose(handle)
        move.w  #0x3E, -(sp)
        trap    #1
        addq.l  #4, sp
        clr.w   -(sp)                   | Fcreate("C:\READBACK.TXT", 0)
        pea     readback(pc)
        move.w  #0x3C, -(sp)
        trap    #1
        addq.l  #8, sp
        move.w  d0, d6
        bmi     fail
        move.l  reloc_buffer(pc), -(sp) | Fwrite(handle, 8, buffer)
        move.l  #8, -(sp)
        move.w  d6, -(sp)
        move.w  #0x40, -(sp)
        trap    #1
        lea     12(sp), sp
        move.w  d6, -(sp)               | Fclose(handle)
        move.w  #0x3E, -(sp)
        trap    #1
        addq.l  #4, sp
        pea     done(pc)                | Frename(0, "C:\WORK.TMP", "C:\DONE.DAT")
        move.l  reloc_work(pc), -(sp)
        clr.w   -(sp)
        move.w  #0x56, -(sp)
        trap    #1
        lea     12(sp), sp
fail:
        clr.w   -(sp)                   | Pterm0
        trap    #1

        .even
reloc_work:
        .long   work
        .space  600                     | the next fixup is more than 254 bytes on
reloc_buffer:
        .long   buffer
work:
        .asciz  "C:\\WORK.TMP"
readback:
        .asciz  "C:\\READBACK.TXT"
done:
        .asciz  "C:\\DONE.DAT"
payload:
        .ascii  "0123456789ABCDEFGHIJ"
payload_end:
        .even
buffer:
        .space  16
program_end:
