#pragma once

#include <windows.h>

// The skin bitmaps of the updater's window: a process-wide table of 128 slots,
// filled from the files in "Patch\" when the window initialises and emptied when
// it is destroyed. The window owns the bitmaps; the close button and the panel
// only show them.
constexpr int SKIN_SLOTS = 128;
constexpr int SKIN_BAR_FILL = 0;
constexpr int SKIN_BACKGROUND = 1;
constexpr int SKIN_BAR_TRACK = 2;
constexpr int SKIN_EXIT_NORMAL = 3;
constexpr int SKIN_EXIT_HOVER = 4;
constexpr int SKIN_EXIT_PRESSED = 5;

extern const char SKIN_FOLDER[]; // "Patch\"

struct SkinFile {
    int slot;
    const char* name;
    int width;
    int height;
};
// The six files in the order they are loaded.
extern const SkinFile SKIN_FILES[6];

class CSkinTable {
public:
    CSkinTable() = default;
    ~CSkinTable() { Free(); }
    CSkinTable(const CSkinTable&) = delete;
    CSkinTable& operator=(const CSkinTable&) = delete;

    // Empties every slot, then loads each file from the skin folder at the
    // table's size (another size is stretched); a file that cannot be loaded
    // leaves its slot empty.
    void Load();
    // Deletes every bitmap and clears the slots.
    void Free() noexcept;

    HBITMAP& operator[](int slot) noexcept { return m_slots[slot]; }
    HBITMAP At(int slot) const noexcept { return m_slots[slot]; }

private:
    HBITMAP m_slots[SKIN_SLOTS] = {};
};

CSkinTable& SkinBitmaps() noexcept;
