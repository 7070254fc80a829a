// The soak: many commands in a row in one process, mixing the three paths with their
// confirmations on and off, OK and Cancel, folders packed separately and into one archive.
// Kernel handles, GDI and USER objects and private bytes are counted after a warm-up round, half
// way and at the end, and printed as a table; what grows with the number of commands is a leak,
// as is a count whose floor rises with the runs of one kind run alone.
#pragma once

#include "tests/support/robustness.h"

namespace rig {

class SoakTest : public RobustnessTest {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    // Runs `commands` commands after one warm-up round of every kind, checking each one's outcome.
    void Soak(int commands);

private:
    void RunKind(int kind);

    std::string file_;
    std::string folder_;
};

}  // namespace rig
