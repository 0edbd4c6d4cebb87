; Guest "hlt": interrupts off, then halted for good.
bits 16
org 0x7c00

start:                          ; 0x7C00
    cli
halt:
    hlt                         ; 0x7C01
    jmp halt                    ; 0x7C02

times 510 - ($ - $$) db 0
dw 0xaa55
