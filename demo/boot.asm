; The demo floppy: a boot sector that prints a line through the BIOS, runs a
; little in real mode (a loop of calls, a string copy, a far call, a BIOS
; interrupt), reads the rest of itself from the floppy, switches to 32-bit
; protected mode with flat segments, and then, from the second stage, loads a
; bigger descriptor table (a 16-bit data segment and a task state segment
; among its entries), an interrupt table and the task register, turns paging
; on and loops for ever. The labels that tests and the README name stand at
; fixed addresses (`place`), listed in demo/README.md.
;
; nasm -f bin boot.asm -o demo.img makes the whole 1.44 MB floppy image;
; -DMAPFILE=demo.map also writes nasm's map of the labels, from which the
; build makes the symbol file (demo.sym) Bochs's ldsym reads.

%ifdef MAPFILE
[map symbols MAPFILE]
%endif

bits 16
org 0x7c00

COUNTER  equ 0x500      ; written in both modes
COPY     equ 0x600      ; the banner copied here; read in protected mode
TRAPS    equ 0x700      ; how many times the breakpoint handler ran
FAULTS   equ 0x704      ; the vector of the last fault handled
STACK32  equ 0x90000

; The page tables, built by the second stage: the directory, the table of the
; low 4 MiB (mapped to themselves) and the table of the next 4 MiB (one page
; mapped onto the boot sector's page, the rest not present).
PAGE_DIR  equ 0x10000
PT_LOW    equ 0x11000
PT_HIGH   equ 0x12000
ELSEWHERE equ 0x400000  ; linear page mapped onto physical 0x7000
ABSENT    equ 0x401000  ; linear page that is not present

; Pads with nop up to the given address; an error if the code before it is
; already longer.
%macro place 1
  %if ($ - $$) > (%1 - 0x7c00)
    %error "demo layout: code runs past %1"
  %endif
  times (%1 - 0x7c00) - ($ - $$) nop
%endmacro

; The linear address of a label as a plain number (nasm shifts and masks
; only plain numbers, not labels).
%define linear(label) ((label) - $$ + 0x7c00)

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
    call load                   ; 0x7C38: the second stage from the floppy
    lgdt [gdt_desc]             ; 0x7C3B
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

place 0x7C70
load:                           ; sectors 2.. of the boot drive (dl) to 0x7E00
    mov ax, 0x0200 + STAGE2_SECTORS
    mov cx, 0x0002
    mov dh, 0
    mov bx, setup
    int 0x13
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
    call setup                  ; 0x7C93: tables and paging
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
gdt:                            ; the first table, for the switch
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

; ---------------------------------------------------------------------------
; The second stage, sectors 2 and on, loaded at 0x7E00 by `load`.

setup:                          ; 0x7E00: called once from pm_start, registers kept
    pushad
    lgdt [gdt2_desc]
    jmp 0x08:.reload            ; CS from the new table
.reload:
    mov ax, 0x10
    mov ds, ax
    mov es, ax
    mov fs, ax
    mov gs, ax
    mov ss, ax
    lidt [idt_desc]
    mov ax, 0x20
    ltr ax                      ; the task state segment (now busy)

    mov edi, PAGE_DIR           ; directory and both tables, all not present
    xor eax, eax
    mov ecx, 3 * 1024
    rep stosd
    mov dword [PAGE_DIR], PT_LOW | 3         ; 0..4 MiB
    mov dword [PAGE_DIR + 4], PT_HIGH | 3    ; 4..8 MiB
    mov edi, PT_LOW
    mov eax, 3                  ; present, writable
    mov ecx, 1024
.identity:
    stosd
    add eax, 0x1000
    loop .identity
    mov dword [PT_HIGH], 0x7000 | 3          ; ELSEWHERE; ABSENT stays 0

    mov eax, PAGE_DIR
    mov cr3, eax
    mov eax, cr0
    or eax, 0x80000000
    mov cr0, eax                ; paging on
    popad
    ret

place 0x7EA0
breakpoint_handler:             ; vector 3 (a trap gate): counts and returns
    inc dword [TRAPS]
    iret

place 0x7EA8
fault_handler:                  ; the faults with a gate: remember, then halt
    mov dword [FAULTS], 0xff
fault_halt:
    hlt
    jmp fault_halt

place 0x7F00
gdt2:                           ; the table of the second stage
    dq 0                        ; null
    dq 0x00cf9a000000ffff       ; 0x08: code, flat, 32-bit
    dq 0x00cf92000000ffff       ; 0x10: data, flat, 32-bit (B set)
    dq 0x000092080000ffff       ; 0x18: data, 16-bit, base 0x80000, limit 0xFFFF
    ; 0x20: 32-bit task state segment (available; busy once loaded)
    dw tss_end - tss - 1
    dw linear(tss) & 0xffff
    db (linear(tss) >> 16) & 0xff
    db 0x89
    db 0x00
    db linear(tss) >> 24
gdt2_end:

place 0x7F30
gdt2_desc:
    dw gdt2_end - gdt2 - 1
    dd gdt2
idt_desc:                       ; 0x7F36
    dw idt_end - idt - 1
    dd idt

; An interrupt gate (type 0x8E) or a trap gate (0x8F) to code selector 8.
%macro gate 2
    dw linear(%1) & 0xffff
    dw 0x08
    db 0
    db %2
    dw linear(%1) >> 16
%endmacro
%define absent dq 0

place 0x7F40
tss:                            ; 104 bytes: ring-0 stack, the rest 0
    dd 0                        ; link
    dd STACK32                  ; esp0
    dd 0x10                     ; ss0
    times 104 - ($ - tss) db 0
tss_end:

place 0x8000
idt:                            ; vectors 0 to 31
    gate fault_handler, 0x8E        ; 0  #DE
    absent                          ; 1
    absent                          ; 2
    gate breakpoint_handler, 0x8F   ; 3  #BP (trap gate)
    absent                          ; 4
    absent                          ; 5
    gate fault_handler, 0x8E        ; 6  #UD
    absent                          ; 7
    gate fault_handler, 0x8E        ; 8  #DF
    times 4 absent                  ; 9 to 12
    gate fault_handler, 0x8E        ; 13 #GP
    gate fault_handler, 0x8E        ; 14 #PF
    times 17 absent                 ; 15 to 31
idt_end:

STAGE2_SECTORS equ (idt_end - setup + 511) / 512

times 1474560 - ($ - $$) db 0
