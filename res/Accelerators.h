// Accelerator tables as plain data, and the key translation a window applies before its own
// keyboard handling. Immutable; any thread.
#pragma once

#include <span>

inline constexpr int IDR_ACCELERATOR = 129;

// Commands of table 129; no window handles them, so the keys they catch do nothing.
inline constexpr int ID_ACCEL_ESCAPE = 32771;
inline constexpr int ID_ACCEL_ENTER = 32772;

// Virtual-key codes used by the tables.
inline constexpr int VK_KEY_RETURN = 0x0D;
inline constexpr int VK_KEY_ESCAPE = 0x1B;

enum AcceleratorFlags : unsigned {
    kAccelVirtualKey = 0x01,
    kAccelNoInvert = 0x02,
    kAccelShift = 0x04,
    kAccelControl = 0x08,
    kAccelAlt = 0x10,
};

struct AcceleratorEntry {
    unsigned flags;
    int key;
    int command;
};

struct AcceleratorTable {
    int id;
    std::span<const AcceleratorEntry> entries;
};

// Null for an unknown id.
const AcceleratorTable* FindAcceleratorTable(int id);

// The command a key press translates to, 0 when none. A virtual-key entry matches only when
// the pressed modifiers (kAccelShift | kAccelControl | kAccelAlt) are exactly its own.
int TranslateAcceleratorKey(const AcceleratorTable& table, int virtualKey, unsigned modifiers);
