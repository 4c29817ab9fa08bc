; show.asm: the cartridge lumaweave-cli writes as NAME.rom (--format rom, --show).
;
; A plain 16 KiB MSX cartridge (no mapper) at 4000h-7FFFh that shows a SCREEN 2 picture and
; stays on it. It needs no BASIC and calls no BIOS routine, so it runs on any MSX1 or later,
; C-BIOS too. The program fills in the tables at the labels below; this source leaves them
; zero. Assembled with pasmo (pasmo --bin show.asm show.rom show.sym); the program carries the
; bytes in show_code.hpp, which make_header.py writes from that and a test compares.

VDP_DATA        equ 98h             ; video memory data
VDP_CONTROL     equ 99h             ; registers and video memory address
VDP_PALETTE     equ 9Ah             ; V9938 palette data
MSX_VERSION     equ 002Dh           ; main ROM byte: 0 MSX1, 1 MSX2, 2 MSX2+, 3 turbo R

PATTERN_TABLE   equ 0000h
NAME_TABLE      equ 1800h
SPRITE_TABLE    equ 1B00h           ; sprite attribute table, as R5 places it
COLOUR_TABLE    equ 2000h

        org 4000h
        db "AB"                     ; a cartridge the BIOS starts
        dw start                    ; INIT
        dw 0, 0, 0                  ; no statement, device or BASIC text
        ds 6, 0

start:
        di                          ; nothing else runs from here on
        ld hl, registers
        ld b, 8
        ld c, 80h                   ; "write register 0"
set_register:
        ld a, (hl)
        out (VDP_CONTROL), a
        ld a, c
        out (VDP_CONTROL), a
        inc hl
        inc c
        djnz set_register

        ; An MSX2 or later: the high address registers to zero, and the picture's palette
        ; when it has one. (An MSX1's video chip would take register 10 and up for 2 and up.)
        ld a, (MSX_VERSION)
        or a
        jr z, load_tables
        ld hl, msx2_registers
        ld b, 4
set_msx2_register:
        ld a, (hl)
        out (VDP_CONTROL), a
        inc hl
        ld a, (hl)
        out (VDP_CONTROL), a
        inc hl
        djnz set_msx2_register
        ld a, (has_palette)
        or a
        jr z, load_tables
        ld hl, palette
        ld b, 32
        ld c, VDP_PALETTE
        otir

load_tables:
        ld hl, patterns
        ld de, PATTERN_TABLE
        ld bc, 6144
        call copy_to_vram
        ld hl, colours
        ld de, COLOUR_TABLE
        ld bc, 6144
        call copy_to_vram
        ld hl, names
        ld de, NAME_TABLE
        ld bc, 768
        call copy_to_vram
        ld de, SPRITE_TABLE         ; the first sprite's Y = 208 ends the list: no sprites
        call set_vram_address
        ld a, 208
        out (VDP_DATA), a

        ld a, 0C0h                  ; R1: 16K, display on, no interrupts
        out (VDP_CONTROL), a
        ld a, 81h
        out (VDP_CONTROL), a
stay:
        jr stay

; Sets the video memory write address to DE.
set_vram_address:
        ld a, e
        out (VDP_CONTROL), a
        ld a, d
        or 40h
        out (VDP_CONTROL), a
        ret

; Copies BC bytes from HL to video memory at DE. 50 cycles a byte: slow enough for any MSX1
; video chip, even with the display on.
copy_to_vram:
        call set_vram_address
copy_byte:
        ld a, (hl)
        out (VDP_DATA), a
        inc hl
        dec bc
        ld a, b
        or c
        jr nz, copy_byte
        ret

; R0-R7 of SCREEN 2: graphic mode 2; 16K, display off while loading; names at 1800h; colours
; at 2000h; patterns at 0000h; sprite attributes at 1B00h, sprite patterns at 3800h; backdrop
; and border colour 0, black (on an MSX2: the palette's colour 0, as the picture's colour 0).
registers:
        db 02h, 80h, 06h, 0FFh, 03h, 36h, 07h, 00h

; MSX2: R10, R11 (high bits of the colour and sprite tables), R14 (video memory page) zero,
; R16 (palette index) zero: value, then 80h + register.
msx2_registers:
        db 0, 80h + 10, 0, 80h + 11, 0, 80h + 14, 0, 80h + 16

; What the program fills in.
has_palette:
        db 0                        ; 1: set the palette on an MSX2
palette:
        ds 32, 0                    ; V9938 palette: 0RRR0BBB, 00000GGG for colours 0-15
names:
        ds 768, 0
patterns:
        ds 6144, 0
colours:
        ds 6144, 0

        ds 8000h - $, 0             ; 16 KiB
