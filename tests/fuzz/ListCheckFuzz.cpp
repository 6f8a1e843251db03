// The checks of vexa-publish on any bytes taken as filelist.list and as
// updatelist.ini: they read what a publisher hands them and must hold on anything.
#include "FuzzInput.h"
#include "QuilletList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes = AsBytes(data, size);
    CReport list;
    CheckQuilletList(bytes, QuilletOptions{}, "filelist.list", list);
    for (const Finding& f : list.Findings())
        FUZZ_CHECK(f.line >= 0 && static_cast<std::size_t>(f.line) <= size + 1);
    CReport servers;
    CheckUpdateServers(bytes, "updatelist.ini", servers);
    FUZZ_CHECK(!servers.Findings().empty()); // at least the verdict on kind 1
    return 0;
}
