// filelist.list on any bytes, and the comparison of what it yields with itself.
#include "FileList.h"
#include "FuzzInput.h"
#include "GbkText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<FileEntry> remote = ParseFileList(AsBytes(data, size));
    FUZZ_CHECK(remote.size() <= size);
    for (const FileEntry& e : remote) {
        FUZZ_CHECK(e.directory.size() <= FILE_LIST_FIELD_MAX);
        FUZZ_CHECK(e.name.size() <= FILE_LIST_FIELD_MAX);
        (void)LocalEntryPath("C:\\game\\", e);
    }
    (void)CompareLists(remote, remote, GbkLeadBytes());
    // Every other local entry kept, with its checksum changed.
    std::vector<FileEntry> local;
    for (std::size_t i = 0; i < remote.size(); i += 2) {
        local.push_back(remote[i]);
        local.back().checksum ^= 1;
    }
    for (const FileEntry& e : CompareLists(remote, local, GbkLeadBytes()))
        FUZZ_CHECK(e.kind == (HasDot(e.name) ? ENTRY_FILE : ENTRY_DIRECTORY));
    return 0;
}
