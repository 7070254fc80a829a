// A short soak for every test run; benchmarks/soak.cpp runs the long one (./dev soak).
#include "tests/rig/wine_gaps.h"
#include "tests/support/soak.h"

namespace {

using rig::SoakTest;

TEST_F(SoakTest, ThirtyCommandsInARowLeaveNothingBehind)
{
    SKIP_WOW64_EDIT_BOX_PAINT();
    Soak(30);
}

}  // namespace
