; Guest "e9": the guest's console. It writes "hello from e9" and a newline
; to port 0xe9 with `out 0xe9, al`, then writes "e9 loop" and a newline
; with `out dx, al` over and over, without a pause.
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
    mov si, hello

place 0x7C10
greet:                          ; 0x7C10
    lodsb
    test al, al
    jz looping
    out 0xe9, al                ; 0x7C15
    jmp greet

place 0x7C20
looping:                        ; 0x7C20: from here on, "e9 loop" for ever
    mov dx, 0xe9
    mov si, line
next:                           ; 0x7C26
    lodsb
    test al, al
    jz looping
    out dx, al                  ; 0x7C2B
    jmp next

place 0x7C40
hello: db "hello from e9", 10, 0   ; 0x7C40
line:  db "e9 loop", 10, 0         ; 0x7C4F

times 510 - ($ - $$) db 0
dw 0xaa55
