; devmgr16.dll for the tests: a 16-bit Windows (NE) library in the place of
; a product's own device manager, so that setup.exe's Windows 98 device road
; runs for real (ordinal 35 loads it, 37 finds _MANAGER, QT_Thunk calls it,
; 36 frees it). Built with and without _MANAGER (-D NO_MANAGER).
;
; C:\DEVMGR16.LOG, appended to: per call of _MANAGER "call" and, for each
; byte of the parameter block (install word, device name and NUL, INF path
; and NUL, at most the 64 bytes Wine's QT_Thunk copies), a blank and two
; upper-case hex digits, then CR LF; per free of the module (WEP) "free".
; C:\DEVMGR16.ANS, optional: four hex digits, the value _MANAGER returns
; (low byte 0: failure); missing or malformed: 0001.
;
; The file is laid out by hand: MZ stub, NE header, the tables in the order
; Wine's loader sizes them by, the non-resident names, and one code segment
; (strings in it, buffers on the stack) with relocations that bind KERNEL's
; functions by ordinal. No data segment, no initialisation routine.

        bits 16

KERNEL_LCLOSE   equ 81
KERNEL_LREAD    equ 82
KERNEL_LCREAT   equ 83
KERNEL_LLSEEK   equ 84
KERNEL_LOPEN    equ 85
KERNEL_LWRITE   equ 86

OF_READ         equ 0
OF_WRITE        equ 1
FILE_END        equ 2
HFILE_ERROR     equ 0xFFFF

; The most of the parameter block that can arrive: Wine's QT_Thunk copies
; 64 bytes of the caller's argument area.
BLOCK_MAX       equ 64
; "call", a blank and two digits per byte, CR LF.
LINE_MAX        equ 4 + 3 * BLOCK_MAX + 2
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
        dw 0                            ; heap
        dw 0                            ; stack
        dd 0                            ; CS:IP: no initialisation routine
        dd 0                            ; SS:SP
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

; _MANAGER: the parameter block is its stack arguments. Called like a C
; routine (plain retf: QT_Thunk's caller gives the area back itself).
; Returns the answer in AX.
manager:
        push bp
        mov bp, sp
        push si
        push di
        sub sp, LINE_MAX
        mov di, sp                      ; the line, in the stack segment

        ; The block's length: the word, the name and its NUL, the path
        ; and its NUL; never past what can have arrived.
        mov si, 2
        call skip_text
        call skip_text

        ; "call" and the bytes in hex.
        mov word [ss:di], 'ca'
        mov word [ss:di + 2], 'll'
        mov bx, 4
        xor cx, cx
.byte:
        cmp cx, si
        jae .line_done
        push si
        mov si, cx
        mov al, [bp + 6 + si]
        pop si
        mov byte [ss:di + bx], ' '
        mov ah, al
        shr al, 4
        call hex_digit
        mov [ss:di + bx + 1], al
        mov al, ah
        and al, 0x0F
        call hex_digit
        mov [ss:di + bx + 2], al
        add bx, 3
        inc cx
        jmp .byte
.line_done:
        mov word [ss:di + bx], 0x0A0D
        add bx, 2
        mov cx, bx
        mov dx, di
        call append_record

        call read_answer
        add sp, LINE_MAX
        pop di
        pop si
        pop bp
        retf

; WEP (Pascal, one word argument): the module is being freed.
wep:
        push bp
        mov bp, sp
        sub sp, 6
        mov bx, sp
        mov word [ss:bx], 'fr'
        mov word [ss:bx + 2], 'ee'
        mov word [ss:bx + 4], 0x0A0D
        mov dx, bx
        mov cx, 6
        call append_record
        add sp, 6
        mov ax, 1
        pop bp
        retf 2

; SI: index into the block at [bp+6]. Moves SI past the text there and its
; NUL, stopping at BLOCK_MAX.
skip_text:
.next:
        cmp si, BLOCK_MAX
        jae .done
        mov al, [bp + 6 + si]
        inc si
        test al, al
        jnz .next
.done:
        ret

; AL: 0-15 -> its upper-case hex digit.
hex_digit:
        push bx
        xor bx, bx
        mov bl, al
        mov al, [cs:CS_OFFSET(hex_digits) + bx]
        pop bx
        ret

; Appends CX bytes at SS:DX to the record file, which is created when
; missing. Keeps SI, DI.
append_record:
        push si
        push di
        mov si, dx
        mov di, cx
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
        mov bx, ax
        push bx                         ; for _lclose
        push bx
        push 0                          ; offset 0 from the end
        push 0
        push FILE_END
        kernel llseek
        pop bx
        push bx
        push bx
        push ss
        push si
        push di
        kernel lwrite
        kernel lclose                   ; its handle is on the stack
.done:
        pop di
        pop si
        ret

; The answer: the four hex digits of the answer file, or DEFAULT_ANSWER.
; Returns it in AX.
read_answer:
        push si
        sub sp, 4
        mov si, sp
        push cs
        push CS_OFFSET(answer_path)
        push OF_READ
        kernel lopen
        cmp ax, HFILE_ERROR
        je .default
        push ax                         ; for _lclose
        push ax
        push ss
        push si
        push 4
        kernel lread
        pop bx                          ; the handle; KERNEL keeps no CX
        push ax
        push bx
        kernel lclose
        pop cx
        cmp cx, 4
        jne .default
        xor dx, dx
        xor bx, bx
.digit:
        mov al, [ss:si + bx]
        call hex_value
        jc .default
        shl dx, 4
        or dl, al
        inc bx
        cmp bx, 4
        jb .digit
        mov ax, dx
        jmp .done
.default:
        mov ax, DEFAULT_ANSWER
.done:
        add sp, 4
        pop si
        ret

; AL: a hex digit -> its value in AL, carry clear; anything else: carry set.
hex_value:
        cmp al, '0'
        jb .bad
        cmp al, '9'
        jbe .decimal
        or al, 0x20                     ; lower case
        cmp al, 'a'
        jb .bad
        cmp al, 'f'
        ja .bad
        sub al, 'a' - 10
        clc
        ret
.decimal:
        sub al, '0'
        clc
        ret
.bad:
        stc
        ret

hex_digits:
        db '0123456789ABCDEF'
record_path:
        db 'C:\DEVMGR16.LOG', 0
answer_path:
        db 'C:\DEVMGR16.ANS', 0

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
; module reference 1 (KERNEL), the ordinal.
%macro import 2
        db 3, 1
        dw CS_OFFSET(%1)
        dw 1, %2
%endmacro
        dw 6
        import lclose, KERNEL_LCLOSE
        import lread, KERNEL_LREAD
        import lcreat, KERNEL_LCREAT
        import llseek, KERNEL_LLSEEK
        import lopen, KERNEL_LOPEN
        import lwrite, KERNEL_LWRITE
