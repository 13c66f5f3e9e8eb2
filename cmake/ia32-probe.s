# ia32-probe: a 32-bit Linux program that only exits, through the 32-bit system call gate.
# It runs where the kernel runs 32-bit code (IA32 emulation), and nowhere else.
.globl _start
_start:
  movl $1, %eax # exit
  xorl %ebx, %ebx # status 0
  int $0x80
