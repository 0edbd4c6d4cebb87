; The labels of the simulated PC's demo (sim/README.md), at the addresses
; where the demo has them, linked into an ELF executable as a boot loader's
; build would: the tests read its symbols as ELF, as nm lists them and in
; the "ADDRESS NAME" form (demo.sym beside this file). Three labels are
; global, the others local, as nm's T and t show them; msg has its size (the
; only form of file that can give one).
bits 16
section .text
global start
global count
global msg:data 8
start:  times 0x13 - ($ - $$) db 0x90
count:  times 0x3b - ($ - $$) db 0x90
spin:   times 0x3d - ($ - $$) db 0x90
bump:   times 0x4b - ($ - $$) db 0x90
clear:  times 0x5a - ($ - $$) db 0x90
farsub: times 0x61 - ($ - $$) db 0x90
msg:    db "VUM demo"
