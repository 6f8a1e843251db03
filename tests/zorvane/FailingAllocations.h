#pragma once

#include <cstddef>

// Allocation failures on demand, for the faults of memory. While a rule is set,
// the allocations of the thread that set it which the rule picks throw
// std::bad_alloc: those of one size (0: any size), after skipping some, up to a
// number of them (-1: all). Linking this file replaces the program's operator new.
// With anyThread, the allocations of every thread are picked (for work that a
// thread of the code under test does).
void FailAllocations(std::size_t size, int skip, int count, bool anyThread = false);
void StopFailingAllocations();
