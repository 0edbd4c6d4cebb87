; The demo floppy: a boot sector that prints a line through the BIOS, runs a
; little in real mode (a loop of calls, a string copy, a far call, a BIOS
; interrupt), switches to 32-bit protected mode with flat segments and then
; loops for ever. The labels that tests and the README name stand at fixed
; addresses (`place`), listed in demo/README.md.
;
; nasm -f bin boot.asm -o demo.img makes the whole 1.44 MB floppy image.

bits 16
org 0x7c00

COUNTER equ 0x500       ; written in both modes
COPY    equ 0x600       ; the banner copied here; read in protected mode
STACK32 equ 0x90000

; Pads with nop up to the given address; an error if the code before it is
; already longer.
%macro place 1
  %if ($ - $$) > (%1 - 0x7c00)
    %error "demo layout: code runs past %1"
  %endif
  times (%1 - 0x7c00) - ($ - $$) nop
%endmacro

start:                          ; 0x7C00
    cli
    xor ax, ax
    mov ds, ax
    mov es, ax
    mov ss, ax
    mov sp, 0x7c00
    mov si, banner
    call print                  ; 0x7C0F: a call to step over
    mov cx, 3
    jmp count

place 0x7C20
count:
    call bump                   ; 0x7C20
    loop count                  ; 0x7C23
    mov si, banner
    mov di, COPY
    mov cx, 16
    cld
    rep movsb                   ; 0x7C2F: writes the copy at 0x600
    call 0x0000:farsub          ; 0x7C31
    int 0x12                    ; 0x7C36: memory size in ax
    lgdt [gdt_desc]
    mov eax, cr0
    or al, 1
    mov cr0, eax
    jmp 0x08:pm_start

place 0x7C50
bump:
    inc word [COUNTER]          ; read-modify-write
    ret

place 0x7C58
farsub:
    mov word [COUNTER + 2], 0x1234
    retf

place 0x7C60
print:                          ; the text at si, through the BIOS teletype
    lodsb
    test al, al
    jz .done
    mov ah, 0x0e
    mov bx, 0x0007
    int 0x10
    jmp print
.done:
    ret

bits 32
place 0x7C80
pm_start:
    mov ax, 0x10
    mov ds, ax
    mov es, ax
    mov fs, ax
    mov gs, ax
    mov ss, ax
    mov esp, STACK32
    xor eax, eax
    jmp pm_loop

place 0x7CA0
pm_loop:
    inc eax                     ; 0x7CA0
    call pm_sub                 ; 0x7CA1
    mov [COUNTER], eax          ; 0x7CA6: a 4-byte write at 0x500
    mov ebx, [COPY]             ; 0x7CAB: a read at 0x600
    inc dword [COPY + 4]        ; 0x7CB1: read-modify-write at 0x604
    jmp pm_loop                 ; 0x7CB7

place 0x7CC0
pm_sub:
    inc edx
    ret

place 0x7CD0
record:                         ; for structure windows: sizes 2, 4, 1, 8
    dw 0x1234
    dd 0x89abcdef
    db 0x42
    dq 0x1122334455667788

place 0x7CE0
gdt:
    dq 0                        ; null
    dq 0x00cf9a000000ffff       ; 0x08: code, flat, 32-bit
    dq 0x00cf92000000ffff       ; 0x10: data, flat, 32-bit (B set)
gdt_desc:
    dw gdt_desc - gdt - 1
    dd gdt

place 0x7D00
banner:
    db "VUM demo floppy", 13, 10, 0

times 510 - ($ - $$) db 0
dw 0xaa55
times 1474560 - ($ - $$) db 0
