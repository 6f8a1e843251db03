#include "SystemCodePage.h"

#include <windows.h>

const CLeadBytes& SystemLeadBytes()
{
    static const CLeadBytes leads = [] {
        CPINFO info{};
        if (!::GetCPInfo(CP_ACP, &info))
            return CLeadBytes();
        return CLeadBytes::FromRanges(info.LeadByte, MAX_LEADBYTES / 2);
    }();
    return leads;
}
