// Replaces the global allocation functions of this test binary so that one
// chosen allocation fails. Only allocations made on the thread that armed it
// are counted, so the library's own threads are never hit by surprise.
#pragma once

#include <cstddef>

namespace qxsym::test {

// The nth allocation (1 = the next one) on this thread fails; every other
// succeeds.
void FailNthAllocation(long nth);
// Stops counting; true when the chosen allocation was reached and failed.
bool Disarm();

}  // namespace qxsym::test
