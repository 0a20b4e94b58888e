#include "res/Accelerators.h"

namespace {

constexpr unsigned kModifierMask = kAccelShift | kAccelControl | kAccelAlt;

constexpr AcceleratorEntry kMainAccelerators[] = {
    {kAccelVirtualKey | kAccelNoInvert, VK_KEY_ESCAPE, ID_ACCEL_ESCAPE},
    {kAccelVirtualKey | kAccelNoInvert, VK_KEY_RETURN, ID_ACCEL_ENTER},
};

constexpr AcceleratorTable kAcceleratorTables[] = {
    {IDR_ACCELERATOR, kMainAccelerators},
};

}  // namespace

const AcceleratorTable* FindAcceleratorTable(int id) {
    for (const AcceleratorTable& table : kAcceleratorTables) {
        if (table.id == id) {
            return &table;
        }
    }
    return nullptr;
}

int TranslateAcceleratorKey(const AcceleratorTable& table, int virtualKey, unsigned modifiers) {
    for (const AcceleratorEntry& entry : table.entries) {
        if ((entry.flags & kAccelVirtualKey) != 0 && entry.key == virtualKey &&
            (entry.flags & kModifierMask) == (modifiers & kModifierMask)) {
            return entry.command;
        }
    }
    return 0;
}
