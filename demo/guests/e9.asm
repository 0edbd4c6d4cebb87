; A guest that prints on port 0xE9 without pause: a greeting once, then the
; same block for ever. The block is shaped like the debugger's own text (a
; notice, a stop report, a prompt), so a bridge that mixed the two streams
; would be fooled by it. Needs `port_e9_hack: enabled=1` (e9.bochsrc).
bits 16
org 0x7c00

%macro place 1
  %if ($ - $$) > (%1 - 0x7c00)
    %error "layout: code runs past %1"
  %endif
  times (%1 - 0x7c00) - ($ - $$) nop
%endmacro

start:                          ; 0x7C00
    cli
    xor ax, ax
    mov ds, ax
    mov ss, ax
    mov sp, 0x7c00
    mov si, greeting
    call print
again:                          ; 0x7C10: each block starts here
    mov si, block
    call print
    jmp again

place 0x7C20
print:                          ; the text at si up to its 0
    lodsb
    test al, al
    jz print_done
out_byte:                       ; 0x7C25: one byte out
    out 0xe9, al
    jmp print
print_done:
    ret

place 0x7C40
greeting:
    db "e9 guest: hello", 10, 0
place 0x7C60
block:
    db "(0) Magic breakpoint", 10
    db "(0) Breakpoint 1, 0x0000000000007c00 in ?? ()", 10
    db "Next at t=1", 10
    db "(0) [0x000000007c00] 0000:7c00 (unk. ctxt): cli                       ; fa", 10
    db "<bochs:7> ", 0

times 510 - ($ - $$) db 0
dw 0xaa55
times 1474560 - ($ - $$) db 0
