// URL splitting on any text: what it returns must fit what it was given.
#include "FuzzInput.h"
#include "Url.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::wstring url = AsWide(data, size);
    std::optional<ParsedUrl> parsed = ParseUrl(url);
    if (parsed) {
        FUZZ_CHECK(!parsed->object.empty());
        FUZZ_CHECK(parsed->server.size() <= url.size());
        FUZZ_CHECK(parsed->scheme.size() <= url.size());
    }
    return 0;
}
