; A guest that halts with interrupts off: `cli; hlt`. A step on the `hlt`
; does not return until the debugger is interrupted.
bits 16
org 0x7c00

start:                          ; 0x7C00
    cli
    xor ax, ax
    mov ds, ax
    mov ss, ax
    mov sp, 0x7c00
halt:                           ; 0x7C0A
    hlt
    jmp halt

times 510 - ($ - $$) db 0
dw 0xaa55
times 1474560 - ($ - $$) db 0
