// The update list's field readings and version decisions on any text.
#include "FuzzInput.h"
#include "ListRules.h"
#include "VersionRules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::wstring text = AsWide(data, size);
    ListKey key = MatchKey(text);
    FUZZ_CHECK(key == LISTKEY_NONE || text.size() <= 14);
    std::uint32_t bits = ReadDecimalBits(text);
    FUZZ_CHECK(static_cast<std::uint32_t>(ReadDecimal(text)) == bits);
    FUZZ_CHECK(ReadLength(text) == static_cast<std::int32_t>(bits));
    (void)ReadFlag(text);
    (void)SelectBaseFolder(text);

    std::size_t cut = text.size() / 2;
    std::wstring a = text.substr(0, cut), b = text.substr(cut);
    std::wstring joined = JoinFullPath(L"C:\\base", a, b);
    FUZZ_CHECK(joined.size() >= 8 + b.size());
    int ab = CompareNoCaseUtf16(a, b), ba = CompareNoCaseUtf16(b, a);
    FUZZ_CHECK((ab < 0) == (ba > 0) && (ab == 0) == (ba == 0));
    FUZZ_CHECK(CompareNoCaseUtf16(a, a) == 0);
    FUZZ_CHECK(!(IsVersionBelow(a, b) && IsVersionBelow(b, a)));
    return 0;
}
