#include "platform/events/KeyCodes.h"

#include <array>

#include "platform/events/Event.h"

namespace lumivane {
namespace {

// Qt::Key values of the keys outside the printable range.
constexpr int kEscape = 0x01000000, kTab = 0x01000001, kBacktab = 0x01000002,
              kBackspace = 0x01000003, kReturn = 0x01000004, kEnter = 0x01000005,
              kDelete = 0x01000007, kHome = 0x01000010, kEnd = 0x01000011, kLeft = 0x01000012,
              kUp = 0x01000013, kRight = 0x01000014, kDown = 0x01000015, kPageUp = 0x01000016,
              kPageDown = 0x01000017, kShift = 0x01000020, kControl = 0x01000021,
              kMeta = 0x01000022, kAlt = 0x01000023, kCapsLock = 0x01000024, kF1 = 0x01000030;

// Printable keys: Qt::Key is the character's code (upper case for letters).
constexpr KeyCodeEntry printable(char c, uint16_t virtualCode, int javaScriptCode) {
    return {static_cast<unsigned char>(c), virtualCode, javaScriptCode, c, 0};
}

constexpr auto kTable = std::to_array<KeyCodeEntry>({
    // Letters: JavaScript codes are the capitals.
    printable('A', 0x00, 65),
    printable('S', 0x01, 83),
    printable('D', 0x02, 68),
    printable('F', 0x03, 70),
    printable('H', 0x04, 72),
    printable('G', 0x05, 71),
    printable('Z', 0x06, 90),
    printable('X', 0x07, 88),
    printable('C', 0x08, 67),
    printable('V', 0x09, 86),
    printable('B', 0x0B, 66),
    printable('Q', 0x0C, 81),
    printable('W', 0x0D, 87),
    printable('E', 0x0E, 69),
    printable('R', 0x0F, 82),
    printable('Y', 0x10, 89),
    printable('T', 0x11, 84),
    printable('O', 0x1F, 79),
    printable('U', 0x20, 85),
    printable('I', 0x22, 73),
    printable('P', 0x23, 80),
    printable('L', 0x25, 76),
    printable('J', 0x26, 74),
    printable('K', 0x28, 75),
    printable('N', 0x2D, 78),
    printable('M', 0x2E, 77),
    // Digits and their shifted symbols share a key.
    printable('1', 0x12, 49),
    printable('!', 0x12, 49),
    printable('2', 0x13, 50),
    printable('@', 0x13, 50),
    printable('3', 0x14, 51),
    printable('#', 0x14, 51),
    printable('4', 0x15, 52),
    printable('$', 0x15, 52),
    printable('6', 0x16, 54),
    printable('^', 0x16, 54),
    printable('5', 0x17, 53),
    printable('%', 0x17, 53),
    printable('9', 0x19, 57),
    printable('(', 0x19, 57),
    printable('7', 0x1A, 55),
    printable('&', 0x1A, 55),
    printable('8', 0x1C, 56),
    printable('*', 0x1C, 56),
    printable('0', 0x1D, 48),
    printable(')', 0x1D, 48),
    // Punctuation, unshifted then shifted.
    printable('=', 0x18, 187),
    printable('+', 0x18, 187),
    printable('-', 0x1B, 189),
    printable('_', 0x1B, 189),
    printable(']', 0x1E, 221),
    printable('}', 0x1E, 221),
    printable('[', 0x21, 219),
    printable('{', 0x21, 219),
    printable('\'', 0x27, 222),
    printable('"', 0x27, 222),
    printable(';', 0x29, 186),
    printable(':', 0x29, 186),
    printable('\\', 0x2A, 220),
    printable('|', 0x2A, 220),
    printable(',', 0x2B, 188),
    printable('<', 0x2B, 188),
    printable('/', 0x2C, 191),
    printable('?', 0x2C, 191),
    printable('.', 0x2F, 190),
    printable('>', 0x2F, 190),
    printable('`', 0x32, 192),
    printable('~', 0x32, 192),
    printable(' ', 0x31, 32),
    // Keys that type nothing useful.
    {kReturn, 0x24, 13, 0, 0},
    {kEnter, 0x4C, 13, 0, 0},
    {kTab, 0x30, 9, 0, 0},
    {kBacktab, 0x30, 9, 0, 0},
    {kBackspace, 0x33, 8, 0, 0},
    {kEscape, 0x35, 27, 0, 0},
    {kDelete, 0x75, 46, 0, 0},
    {kHome, 0x73, 36, 0, 0},
    {kEnd, 0x77, 35, 0, 0},
    {kPageUp, 0x74, 33, 0, 0},
    {kPageDown, 0x79, 34, 0, 0},
    {kLeft, 0x7B, 37, 0, 0},
    {kUp, 0x7E, 38, 0, 0},
    {kRight, 0x7C, 39, 0, 0},
    {kDown, 0x7D, 40, 0, 0},
    {kF1 + 0, 0x7A, 112, 0, 0},
    {kF1 + 1, 0x78, 113, 0, 0},
    {kF1 + 2, 0x63, 114, 0, 0},
    {kF1 + 3, 0x76, 115, 0, 0},
    {kF1 + 4, 0x60, 116, 0, 0},
    {kF1 + 5, 0x61, 117, 0, 0},
    {kF1 + 6, 0x62, 118, 0, 0},
    {kF1 + 7, 0x64, 119, 0, 0},
    {kF1 + 8, 0x65, 120, 0, 0},
    {kF1 + 9, 0x6D, 121, 0, 0},
    {kF1 + 10, 0x67, 122, 0, 0},
    {kF1 + 11, 0x6F, 123, 0, 0},
    // Modifier keys; the toolkit does not tell left from right, the desktop does.
    {kShift, 0x38, 16, 0, NSShiftKeyMask},
    {kControl, 0x3B, 17, 0, NSControlKeyMask},
    {kAlt, 0x3A, 18, 0, NSAlternateKeyMask},
    {kMeta, 0x37, 91, 0, NSCommandKeyMask},
    {kCapsLock, 0x39, 20, 0, NSAlphaShiftKeyMask},
    {0, 0x3C, 16, 0, NSShiftKeyMask},
    {0, 0x3E, 17, 0, NSControlKeyMask},
    {0, 0x3D, 18, 0, NSAlternateKeyMask},
    {0, 0x36, 93, 0, NSCommandKeyMask},
});

}  // namespace

std::span<const KeyCodeEntry> keyCodeTable() {
    return kTable;
}

const KeyCodeEntry* keyCodeForToolkitKey(int toolkitKey) {
    if (toolkitKey == 0) return nullptr;
    // Lower-case letters arrive as their capitals' keys; accept either.
    if (toolkitKey >= 'a' && toolkitKey <= 'z') toolkitKey -= 'a' - 'A';
    for (const KeyCodeEntry& entry : kTable) {
        if (entry.toolkitKey == toolkitKey) return &entry;
    }
    return nullptr;
}

int javaScriptCodeForSpecialKey(uint16_t virtualCode) {
    for (const KeyCodeEntry& entry : kTable) {
        if (!entry.character && entry.virtualCode == virtualCode) return entry.javaScriptCode;
    }
    return 0;
}

int javaScriptCodeForLayoutKey(uint16_t virtualCode) {
    for (const KeyCodeEntry& entry : kTable) {
        if (entry.character && entry.virtualCode == virtualCode) return entry.javaScriptCode;
    }
    return 0;
}

int javaScriptCodeForCharacter(unsigned char character) {
    if (character >= 'a' && character <= 'z') character -= 'a' - 'A';
    for (const KeyCodeEntry& entry : kTable) {
        if (entry.character && static_cast<unsigned char>(entry.character) == character)
            return entry.javaScriptCode;
    }
    // Control characters that keys type.
    switch (character) {
        case '\r':
        case 3:
            return 13;
        case '\t':
            return 9;
        case 27:
            return 27;
        case 8:
        case 127:
            return 8;
        default:
            return 0;
    }
}

}  // namespace lumivane
