; devmgr16.dll for the tests: a 16-bit Windows (NE) library in the place of
; a product's own device manager, so that setup.exe's Windows 98 device road
; runs for real (ordinal 35 loads it, 37 finds _MANAGER, QT_Thunk calls it,
; 36 frees it). Built with and without _MANAGER (-D NO_MANAGER).
;
; C:\DEVMGR16.LOG, appended to: per call of _MANAGER "call", the parameter
; block's bytes as received (install word, device name and NUL, INF path
; and NUL, at most the 64 bytes Wine's QT_Thunk copies), then CR LF; per
; free of the module (WEP) "free" CR LF.
; C:\DEVMGR16.ANS, optional: its first two bytes are the little-endian word
; _MANAGER returns (low byte 0: failure); missing or shorter: 0001.
;
; The file is laid out by hand: MZ stub, NE header, the tables in the order
; Wine's loader sizes them by, the non-resident names, and one code segment
; (strings in it, buffers on the stack) with relocations that bind KERNEL's
; functions by ordinal. No data segment, no initialisation routine.

        bits 16

OF_READ         equ 0
OF_WRITE        equ 1
FILE_END        equ 2
HFILE_ERROR     equ 0xFFFF

; The most of the parameter block that can arrive: Wine's QT_Thunk copies
; 64 bytes of the caller's argument area.
BLOCK_MAX       equ 64
DEFAULT_ANSWER  equ 0x0001

ALIGN_SHIFT     equ 4

; ---------------------------------------------------------------- MZ header
mz:
        db 'MZ'
        times 0x3C - ($ - mz) db 0
        dd ne                           ; e_lfanew

; ---------------------------------------------------------------- NE header
ne:
        db 'NE'
        db 5, 10                        ; linker version
        dw entry_table - ne
        dw entry_table_end - entry_table
        dd 0                            ; CRC
        dw 0x8000                       ; library, no automatic data segment
        dw 0                            ; automatic data segment: none
        dw 0, 0                         ; heap, stack
        dd 0, 0                         ; CS:IP, SS:SP: no initialisation routine
        dw 1                            ; segments
        dw 1                            ; module references
        dw nonresident_names_end - nonresident_names
        dw segment_table - ne
        dw resident_names - ne          ; resources: none (same offset)
        dw resident_names - ne
        dw module_references - ne
        dw imported_names - ne
        dd nonresident_names - mz       ; from the start of the file
        dw 0                            ; movable entries
        dw ALIGN_SHIFT
        dw 0                            ; resource segments
        db 2                            ; target: Windows
        db 0
        dw 0, 0                         ; gangload area
        dw 0                            ; minimum code swap
        dw 0x030A                       ; Windows 3.10

segment_table:
        dw (code - mz) >> ALIGN_SHIFT   ; where the segment lies in the file
        dw code_end - code              ; its length there
        dw 0x0100                       ; code, fixed, relocation records follow
        dw code_end - code              ; its size in memory

resident_names:
        db 8, 'DEVMGR16'
        dw 0
%ifndef NO_MANAGER
        ; GetProcAddress16 upper-cases the name asked for.
        db 8, '_MANAGER'
        dw 1
%endif
        db 3, 'WEP'
        dw 2
        db 0

module_references:
        dw kernel_name - imported_names

imported_names:
        db 0
kernel_name:
        db 6, 'KERNEL'

entry_table:
        db 2, 1                         ; two entries in fixed segment 1
        db 1                            ; exported
        dw manager - code
        db 1
        dw wep - code
        db 0
entry_table_end:

nonresident_names:
        db 24, 'Device manager for tests'
        dw 0
        db 0
nonresident_names_end:

; ------------------------------------------------------------- code segment
        align 1 << ALIGN_SHIFT, db 0
code:

; Offsets inside the segment.
%define CS_OFFSET(label) ((label) - code)

; A far call of a KERNEL function through its pointer, which the loader
; fills in (relocation records below).
%macro kernel 1
        call far [cs:CS_OFFSET(%1)]
%endmacro

; record SEGMENT, OFFSET, COUNT: appends those bytes to the record file,
; which is created when missing.
%macro record 3
        push %1
        push %2
        push %3
        call append_record
%endmacro

; _MANAGER: the parameter block is its stack arguments. Called like a C
; routine (plain retf: QT_Thunk's caller gives the area back itself).
; Returns the answer in AX.
manager:
        enter 2, 0                      ; the answer file's two bytes
        push si

        ; The block's length: the word, the name and its NUL, the path
        ; and its NUL; never past what can have arrived.
        mov si, 2
        call skip_text
        call skip_text
        record cs, CS_OFFSET(call_word), 4
        lea ax, [bp + 6]
        record ss, ax, si
        record cs, CS_OFFSET(line_end), 2

        push cs
        push CS_OFFSET(answer_path)
        push OF_READ
        kernel lopen
        cmp ax, HFILE_ERROR
        je .default
        push ax                         ; for _lclose
        push ax
        push ss
        lea bx, [bp - 2]
        push bx
        push 2
        kernel lread
        mov si, ax                      ; KERNEL keeps SI, not CX
        kernel lclose                   ; its handle is on the stack
        mov ax, [bp - 2]
        cmp si, 2
        je .done
.default:
        mov ax, DEFAULT_ANSWER
.done:
        pop si
        leave
        retf

; WEP (Pascal, one word argument): the module is being freed.
wep:
        record cs, CS_OFFSET(free_line), 6
        mov ax, 1
        retf 2

; SI: index into the block at [bp+6]. Moves SI past the text there and its
; NUL, stopping at BLOCK_MAX.
skip_text:
        cmp si, BLOCK_MAX
        jae .done
        mov al, [bp + 6 + si]
        inc si
        test al, al
        jnz skip_text
.done:
        ret

; The record macro's work: its arguments are the stack words that _lwrite
; takes after the handle; it pops them.
append_record:
        push bp
        mov bp, sp
        push cs
        push CS_OFFSET(record_path)
        push OF_WRITE
        kernel lopen
        cmp ax, HFILE_ERROR
        jne .opened
        push cs
        push CS_OFFSET(record_path)
        push 0                          ; normal attributes
        kernel lcreat
        cmp ax, HFILE_ERROR
        je .done
.opened:
        push ax                         ; for _lclose
        push ax                         ; for _lwrite
        push ax
        push 0                          ; offset 0 from the end
        push 0
        push FILE_END
        kernel llseek
        push word [bp + 8]
        push word [bp + 6]
        push word [bp + 4]
        kernel lwrite
        kernel lclose
.done:
        pop bp
        ret 6

record_path:    db 'C:\DEVMGR16.LOG', 0
answer_path:    db 'C:\DEVMGR16.ANS', 0
call_word:      db 'call'
; WEP's whole line; its CR LF ends _MANAGER's line too.
free_line:      db 'free'
line_end:       db 13, 10

; Far pointers to the KERNEL functions. Each holds 0xFFFF in its offset
; word, which ends the loader's chain of places to patch.
lclose: dw 0xFFFF, 0
lread:  dw 0xFFFF, 0
lcreat: dw 0xFFFF, 0
llseek: dw 0xFFFF, 0
lopen:  dw 0xFFFF, 0
lwrite: dw 0xFFFF, 0
code_end:

; Relocation records: far pointer (3), imported ordinal (1), the place,
; module reference 1 (KERNEL), KERNEL's ordinal of the function.
%macro import 2
        db 3, 1
        dw CS_OFFSET(%1)
        dw 1, %2
%endmacro
        dw 6
        import lclose, 81
        import lread, 82
        import lcreat, 83
        import llseek, 84
        import lopen, 85
        import lwrite, 86
