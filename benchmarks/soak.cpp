// The long soak: two hundred commands in a row in one process, with the resource table printed.
// Run with ./dev soak; tests/test_soak.cpp runs a short one with every test run.
#include "tests/support/soak.h"

namespace {

using rig::SoakTest;

TEST_F(SoakTest, TwoHundredCommandsInARowLeaveNothingBehind) { Soak(200); }

}  // namespace
