// The one table between the desktop's keys and the codes that recordings and
// compositions use: the toolkit's key numbers (Qt::Key values, stable across
// Qt versions), the desktop virtual key codes that recorded key events carry,
// and the JavaScript key codes under which a composition's KEYBOARD sees them.
// The application records through it and the engine reads back through it, so
// a key recorded in the one replays as the same key in the other.
#pragma once

#include <cstdint>
#include <span>

namespace lumivane {

struct KeyCodeEntry {
    int toolkitKey;         // Qt::Key value; 0 for keys the toolkit does not tell apart
    uint16_t virtualCode;   // desktop virtual key code (ANSI layout)
    int javaScriptCode;     // index into KEYBOARD
    char character;         // what the key types (unshifted or shifted); 0 for none
    uint32_t modifierMask;  // modifier flag of a modifier key; 0 otherwise
};

std::span<const KeyCodeEntry> keyCodeTable();

// The row of a toolkit key; nullptr for keys the table does not know.
const KeyCodeEntry* keyCodeForToolkitKey(int toolkitKey);

// JavaScript code of a key that types no character (return, arrows,
// modifiers, function keys) by its virtual code; 0 for any other code.
int javaScriptCodeForSpecialKey(uint16_t virtualCode);
// JavaScript code of a character key by its virtual code; 0 for any other.
int javaScriptCodeForLayoutKey(uint16_t virtualCode);
// JavaScript code of the key that types a character; 0 when none does.
int javaScriptCodeForCharacter(unsigned char character);

}  // namespace lumivane
