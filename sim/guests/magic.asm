; Guest "magic": writes a line to port 0xe9, then meets two magic
; breakpoints (`xchg bx, bx`) and spins.
bits 16
org 0x7c00
%include "place.inc"

start:                          ; 0x7C00
    cli
    xor ax, ax
    mov ds, ax
    mov ss, ax
    mov sp, 0x7c00
    cld
    mov si, text
print:                          ; 0x7C0E
    lodsb
    test al, al
    jz magic1
    out 0xe9, al
    jmp print

place 0x7C20
magic1:
    xchg bx, bx                 ; 0x7C20: the first magic breakpoint
after1:
    mov ax, 1                   ; 0x7C22: where the run stops
magic2:
    xchg bx, bx                 ; 0x7C25: the second
after2:
    mov ax, 2                   ; 0x7C27
spin:
    jmp spin                    ; 0x7C2A

place 0x7C30
text: db "before the magic breakpoint", 10, 0   ; 0x7C30

times 510 - ($ - $$) db 0
dw 0xaa55
