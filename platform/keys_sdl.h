// keys_sdl.h -- SDL scancodes to PC set-1 scan codes, private to platform/.
// The window half turns SDL key events into the key codes the rest of the
// program stores (VELK_KEY_BASE + scan code, bit 8 for extended keys).
#pragma once

// The set-1 scan code (0x000..0x1FF) for an SDL_Scancode value; 0 for a key
// that has no set-1 code and for values out of range.
[[nodiscard]] int velk_set1_scan_code(int sdl_scancode);

// The SDL_Scancode of a set-1 scan code (the first in table order where two
// SDL keys share one); 0 (SDL_SCANCODE_UNKNOWN) for none.
[[nodiscard]] int velk_sdl_scan_code(int set1);
