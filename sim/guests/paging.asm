; Guest "paging": protected mode with a global descriptor table (flat 32-bit
; code and data, a 16-bit stack segment, 16-bit code, a TSS, a ring-3 data
; segment and one not present), an interrupt descriptor table (trap,
; interrupt and task gates, one of them 16-bit), and paging on:
;   linear 0x00000000-0x003FFFFF  4 KiB pages, identity (code, tables, stack)
;   linear 0x00400000-0x007FFFFF  one 4 MiB page at physical 0x00C00000
;   linear 0x00800000             4 KiB page at physical 0x00013000
;   linear 0x00801000             not present (and nothing above 0x00801FFF
;                                 is mapped but the 4 MiB page)
; It writes through both moved mappings, raises int 3 (trap gate) and
; int 0x30 (16-bit gate into 16-bit code), then reads the page that is not
; present: the page fault handler records the error code and CR2 and the
; guest ends in a loop at `done`.
bits 16
org 0x7c00
%include "place.inc"

PAGE_DIR    equ 0x10000         ; CR3
PAGE_TABLE0 equ 0x11000         ; linear 0 to 4 MiB, identity
PAGE_TABLE2 equ 0x12000         ; linear 8 MiB to 12 MiB
MOVED_PAGE  equ 0x13000         ; what linear 0x00800000 maps to
BIG_PAGE    equ 0xC00000        ; what the 4 MiB page at 0x00400000 maps to

INT3_COUNT  equ 0x500           ; dword: int 3 handled
INT30_COUNT equ 0x504           ; word: int 0x30 handled (16-bit handler)
PF_ERROR    equ 0x508           ; dword: the page fault's error code
PF_ADDRESS  equ 0x50C           ; dword: CR2 at the page fault
GP_ERROR    equ 0x510           ; dword: a general protection fault's code

start:                          ; 0x7C00
    cli
    xor ax, ax
    mov ds, ax
    mov es, ax
    mov ss, ax
    mov sp, 0x7c00
    lgdt [gdt_desc]
    lidt [idt_desc]
    mov eax, cr0
    or al, 1
    mov cr0, eax
    jmp dword 0x08:protected

bits 32
place 0x7C30
protected:                      ; 0x7C30: 32-bit code, selector 0x08
    mov ax, 0x10
    mov ds, ax
    mov es, ax
    mov fs, ax
    mov gs, ax
    mov ax, 0x18                ; the 16-bit stack segment, base 0x20000
    mov ss, ax
    mov esp, 0xfff0
    mov ax, 0x28
    ltr ax
    mov edi, PAGE_DIR           ; clear the directory and both tables
    mov ecx, 3 * 1024
    xor eax, eax
    rep stosd
    mov edi, PAGE_TABLE0
    mov eax, 0x003              ; present, writable
    mov ecx, 1024
identity:                       ; 0x7C6B
    stosd
    add eax, 0x1000
    loop identity
    mov dword [PAGE_DIR + 0 * 4], PAGE_TABLE0 | 3
    mov dword [PAGE_DIR + 1 * 4], BIG_PAGE | 0x83       ; 4 MiB page
    mov dword [PAGE_DIR + 2 * 4], PAGE_TABLE2 | 3
    mov dword [PAGE_TABLE2 + 0 * 4], MOVED_PAGE | 3
    mov eax, cr4
    or eax, 0x10                ; PSE
    mov cr4, eax
    mov eax, PAGE_DIR
    mov cr3, eax
    mov eax, cr0
    or eax, 0x80000000          ; PG
    mov cr0, eax

place 0x7CC0
paged:                          ; 0x7CC0: paging is on
    mov dword [0x00800000], 0x600df00d
    mov dword [0x00400000], 0xcafebabe
    int 3                       ; 0x7CD4
    int 0x30                    ; 0x7CD6
unmapped_read:
    mov eax, [0x00801000]       ; 0x7CD8: the page fault
    jmp done

place 0x7CE0
done:
    jmp done                    ; 0x7CE0: the end

place 0x7CF0
int3_handler:                   ; 0x7CF0: trap gate, vector 3
    inc dword [INT3_COUNT]
    iretd

place 0x7D00
pf_handler:                     ; 0x7D00: interrupt gate, vector 14
    pop dword [PF_ERROR]
    push eax
    mov eax, cr2
    mov [PF_ADDRESS], eax
    pop eax
    jmp done

place 0x7D18
gp_handler:                     ; 0x7D18: interrupt gate, vector 13
    pop dword [GP_ERROR]
    jmp done

place 0x7D20
df_handler:                     ; 0x7D20: interrupt gate, vector 8
    jmp done

bits 16
place 0x7D28
int30_handler:                  ; 0x7D28: 16-bit interrupt gate, vector 0x30
    inc word [INT30_COUNT]
    iret

; Descriptor tables and the TSS. Label differences keep the values scalar.
%define ADDR(label) ((label) - $$ + 0x7c00)

%macro gate 3                   ; handler, selector, access byte
    dw ADDR(%1) & 0xffff
    dw %2
    db 0
    db %3
    dw ADDR(%1) >> 16
%endmacro

place 0x7D40
gdt:                            ; 0x7D40
    dq 0                                        ; 0x00 null
    dw 0xffff, 0x0000, 0x9a00, 0x00cf           ; 0x08 code, 32-bit, flat
    dw 0xffff, 0x0000, 0x9200, 0x00cf           ; 0x10 data, 32-bit, flat
    dw 0xffff, 0x0000, 0x9202, 0x0000           ; 0x18 stack, 16-bit, base 0x20000
    dw 0xffff, 0x0000, 0x9a00, 0x0000           ; 0x20 code, 16-bit, base 0
    dw 0x0067, ADDR(tss), 0x8900, 0x0000        ; 0x28 386 TSS (busy after ltr)
    dw 0x0fff, 0x8000, 0xf20b, 0x0000           ; 0x30 data, ring 3, base 0xB8000
    dw 0xffff, 0x0000, 0x1210, 0x0000           ; 0x38 data, not present, base 0x100000
gdt_end:

gdt_desc:                       ; 0x7D80
    dw gdt_end - gdt - 1
    dd gdt
idt_desc:                       ; 0x7D86
    dw idt_end - idt - 1
    dd idt

place 0x7D90
tss:                            ; 0x7D90: 104 bytes
    dd 0                        ; previous task link
    dd 0xfff0                   ; esp0
    dd 0x18                     ; ss0
    times 104 - 12 db 0

place 0x7E00
idt:                            ; 0x7E00: vectors 0 to 0x30
    times 2 dq 0
    dw 0, 0x28, 0x8500, 0                       ; 2: task gate to the TSS (never used)
    gate int3_handler, 0x08, 0x8f               ; 3: 32-bit trap gate
    times 4 dq 0
    gate df_handler, 0x08, 0x8e                 ; 8: 32-bit interrupt gate
    times 4 dq 0
    gate gp_handler, 0x08, 0x8e                 ; 13: 32-bit interrupt gate
    gate pf_handler, 0x08, 0x8e                 ; 14: 32-bit interrupt gate
    times 0x30 - 15 dq 0
    gate int30_handler, 0x20, 0x86              ; 0x30: 16-bit interrupt gate
idt_end:                        ; 0x7F88
