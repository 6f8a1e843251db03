#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// The small disk of the full-disk tests: a tmpfs of a few MiB that a ctest fixture
// mounts (scripts/small-disk) and names in VEXA_SMALL_DISK. Windows only.
namespace small_disk {

// A fresh, empty folder of that name on the disk; empty when there is no small
// disk (the variable is not set, or mounting was refused and the folder is on a
// large disk): a test then skips.
std::wstring Folder(const std::wstring& name);

// Writes a filler file into the folder until at most "leave" bytes of its disk are
// free; false when it cannot.
bool FillLeaving(const std::wstring& folder, std::uint64_t leave);

} // namespace small_disk
