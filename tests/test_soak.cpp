// A short soak for every test run; benchmarks/soak.cpp runs the long one (./dev soak).
#include "tests/support/soak.h"

namespace {

using rig::SoakTest;

TEST_F(SoakTest, ThirtyCommandsInARowLeaveNothingBehind)
{
    Soak(30);
}

}  // namespace
