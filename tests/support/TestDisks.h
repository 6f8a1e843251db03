#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// The disks of the fault tests that a ctest fixture mounts (scripts/test-disks)
// and names in VEXA_TEST_DISKS: a small disk of a few MiB, and a folder with a
// read-only view of it. Windows only.
namespace test_disks {

// A fresh, empty folder of that name on the small disk; empty when there is no
// small disk (the variable is not set, or mounting was refused and the folder is
// on a large disk): a test then skips.
std::wstring SmallFolder(const std::wstring& name);

// A folder of the large disk, emptied, whose subfolder "data" is the small disk
// (emptied too); empty when there is none.
std::wstring JoinedFolder();

// Writes a filler file into the folder until at most "leave" bytes of its disk are
// free; false when it cannot.
bool FillLeaving(const std::wstring& folder, std::uint64_t leave);

// A fresh, empty folder of that name that can be written, and the same folder seen
// read-only; both empty when there is no read-only view.
struct ReadOnlyFolder {
    std::wstring writable;
    std::wstring readOnly;
};
ReadOnlyFolder ReadOnlyPair(const std::wstring& name);

} // namespace test_disks
