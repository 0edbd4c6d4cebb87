; Guest "triple": counts its boots in the word at 0x500 (memory outlives a
; reset), loads an empty interrupt table and raises `int 3`: the interrupt,
; the general protection fault it turns into and the double fault after
; that all find no vector, which makes a triple fault.
bits 16
org 0x7c00
%include "place.inc"

BOOTS equ 0x500

start:                          ; 0x7C00
    cli
    xor ax, ax
    mov ds, ax
    mov ss, ax
    mov sp, 0x7c00
    inc word [BOOTS]
    lidt [no_idt]

place 0x7C20
fault:
    int 3                       ; 0x7C20: the triple fault
spin:
    jmp spin                    ; 0x7C22: never reached

place 0x7C30
no_idt: dw 0                    ; 0x7C30: limit 0, base 0
        dd 0

times 510 - ($ - $$) db 0
dw 0xaa55
