; A guest that stops itself with Bochs's magic breakpoint (`xchg bx, bx`,
; which stops a run when `magic_break: enabled=1`, as in magic.bochsrc), then
; counts in ax for ever.
bits 16
org 0x7c00

start:                          ; 0x7C00
    cli
    xor ax, ax
    mov ds, ax
    mov ss, ax
    mov sp, 0x7c00
magic:                          ; 0x7C0A
    xchg bx, bx
after:                          ; 0x7C0C: where the run stops
    inc ax
    jmp after

times 510 - ($ - $$) db 0
dw 0xaa55
times 1474560 - ($ - $$) db 0
