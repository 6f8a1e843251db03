#include "GbkText.h"

const CLeadBytes& GbkLeadBytes() noexcept
{
    static const unsigned char ranges[] = {0x81, 0xFE};
    static const CLeadBytes leads = CLeadBytes::FromRanges(ranges, 1);
    return leads;
}
