#!/usr/bin/env bash
# The test of scripts/i686-vm.sh, which runs the i686 tests in a virtual machine where this
# machine's kernel runs no 32-bit code: run on the host (label "host"), by scripts/test.sh
# where the tests go to the VM. Each case boots the VM:
#   status     a job's output comes through and its exit status is the run's
#   i686       the small i686 test program (VmSelfTest.cpp) under wine-exec, with a test that
#              fails on purpose: the passing test's result comes through, and the run fails
#   crash      a VM that ends before its job does fails the run, and says so
#   timeout    so does a job that outlasts VELA_VM_TIMEOUT
# CTest hands in the paths (VELA_*).
set -uo pipefail
failed=0 output="" status=0

vm() { # vm <command...>: runs it through the launcher; its output in $output, exit status in $status
  status=0
  output=$(bash "$VELA_SOURCE/scripts/i686-vm.sh" run "$@" 2>&1) || status=$?
  printf '%s\n' "$output" | sed 's/^/  | /'
  # The launcher keeps the folder of a failed run for its console; these failures are wanted.
  sed -n 's#.* the end of its console (\(.*\)/console\.log):$#\1#p' <<<"$output" | xargs -r rm -rf
}
expect() { # expect <description> <command...>
  local what=$1
  shift
  "$@" || { echo "FAIL: $what" && failed=1; }
}
has() { grep -qF -- "$1" <<<"$output"; }

echo "== status"
vm bash -c 'echo "from the guest: $(uname -m)"; exit 3'
expect "the job's exit status (3) is the run's, not $status" test $status = 3
expect "the job's output comes through" has "from the guest: x86_64"

echo "== i686"
vm "$VELA_WINE_EXEC" "$VELA_SELFTEST" --gtest_also_run_disabled_tests
expect "a run with a failing test fails" test $status != 0
expect "the passing 32-bit test ran" has "[       OK ] I686Vm.RunsAs32BitProgramUnderWow64"
expect "the failing test ran and failed" has "[  FAILED  ] I686Vm.DISABLED_FailsOnPurpose"

echo "== crash"
vm bash -c 'echo o >/proc/sysrq-trigger; sleep 60' # powers the guest off at once
expect "a VM that ends before its job fails the run" test $status != 0
expect "... and says so" has "ended without the job's exit status"

echo "== timeout"
VELA_VM_TIMEOUT=30 vm sleep 600
expect "a job past the time limit fails the run" test $status != 0
expect "... and says so" has "did not finish within 30 s"

[ $failed = 0 ] && echo "i686-vm: all checks passed"
exit $failed
