#include "stack_probe.h"

#if defined(__i386__)
/* The arguments are pushed last to first, as a C call does; %edi keeps the
   stack pointer the callee saw, since both conventions preserve %edi. */
__asm__(
    "    .text\n"
    "    .globl _StackProbe\n"
    "_StackProbe:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    pushl %ebx\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    movl 12(%ebp), %ecx\n" /* nargs */
    "    movl 16(%ebp), %esi\n" /* args */
    "1:  testl %ecx, %ecx\n"
    "    jz 2f\n"
    "    decl %ecx\n"
    "    pushl (%esi,%ecx,4)\n"
    "    jmp 1b\n"
    "2:  movl %esp, %edi\n"
    "    call *8(%ebp)\n"
    "    movl %esp, %ecx\n"
    "    subl %edi, %ecx\n" /* bytes the callee popped */
    "    movl 20(%ebp), %edx\n"
    "    movl %ecx, (%edx)\n"
    "    leal -12(%ebp), %esp\n"
    "    popl %edi\n"
    "    popl %esi\n"
    "    popl %ebx\n"
    "    popl %ebp\n"
    "    ret\n");
#endif
