; A guest that ends in a triple fault: with an interrupt table of limit 0,
; `int 3` cannot be delivered, nor can the faults that follow, and the
; processor resets (Bochs then stops at the reset vector F000:FFF0).
bits 16
org 0x7c00

start:                          ; 0x7C00
    cli
    xor ax, ax
    mov ds, ax
    mov ss, ax
    mov sp, 0x7c00
    lidt [no_table]             ; 0x7C0A
fault:                          ; 0x7C0F
    int 3
    jmp $

no_table:                       ; limit 0, base 0
    dw 0
    dd 0

times 510 - ($ - $$) db 0
dw 0xaa55
times 1474560 - ($ - $$) db 0
