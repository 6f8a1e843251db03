#pragma once

#include "CodePageText.h"

// The lead bytes of the system's ANSI code page, in which every 8-bit text of the
// updater (its own path, the file names it makes) is written. Asked of the
// platform once.
const CLeadBytes& SystemLeadBytes();
