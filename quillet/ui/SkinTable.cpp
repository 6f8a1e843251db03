#include "SkinTable.h"

#include <string>

const char SKIN_FOLDER[] = "Patch\\";

const SkinFile SKIN_FILES[6] = {
    {SKIN_BAR_FILL, "patch_updateBar.bmp", 300, 18},  {SKIN_BACKGROUND, "bg.bmp", 400, 300},
    {SKIN_BAR_TRACK, "patch_updateBar2.bmp", 300, 18}, {SKIN_EXIT_NORMAL, "btn_exit1.bmp", 20, 20},
    {SKIN_EXIT_HOVER, "btn_exit2.bmp", 20, 20},        {SKIN_EXIT_PRESSED, "btn_exit3.bmp", 20, 20},
};

void CSkinTable::Load()
{
    Free();
    for (const SkinFile& f : SKIN_FILES) {
        const std::string path = std::string(SKIN_FOLDER) + f.name;
        m_slots[f.slot] = static_cast<HBITMAP>(
            ::LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, f.width, f.height, LR_LOADFROMFILE));
    }
}

void CSkinTable::Free() noexcept
{
    for (HBITMAP& slot : m_slots) {
        if (slot)
            ::DeleteObject(slot);
        slot = nullptr;
    }
}

CSkinTable& SkinBitmaps() noexcept
{
    static CSkinTable table;
    return table;
}
