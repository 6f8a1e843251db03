// Zorvane's server-list file on any text.
#include "FuzzInput.h"
#include "SessionRules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::wstring text = AsWide(data, size);
    std::vector<ServerListEntry> entries = ParseServerList(text);
    FUZZ_CHECK(entries.size() <= text.size());
    return 0;
}
