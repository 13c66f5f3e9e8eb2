// A small i686 test program for the test of scripts/i686-vm.sh (launcher.sh), which runs it
// in the virtual machine as the i686 suite runs there.
#include <windows.h>

#include <gtest/gtest.h>

// Ran as a 32-bit program in Wine's WoW64 mode: the kernel that ran it has IA32 emulation.
TEST(I686Vm, RunsAs32BitProgramUnderWow64)
{
    EXPECT_EQ(4u, sizeof(void*));
    BOOL wow64 = FALSE;
    ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64));
    EXPECT_TRUE(wow64);
}

// Fails on purpose: launcher.sh runs it (--gtest_also_run_disabled_tests) to see that a failing
// test fails the run.
TEST(I686Vm, DISABLED_FailsOnPurpose)
{
    FAIL() << "failing on purpose";
}
