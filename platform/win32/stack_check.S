// stack_checked_call(function, args, count, balanced): pushes count 32-bit
// arguments (args[0] last, so that it ends on top, as a declared call passes
// them), calls function, and stores in *balanced whether the stack pointer came
// back to where it was before the pushes. A function that removes its own
// arguments (stdcall, as the operating system's are) and was declared with the
// arguments it takes leaves it there; a wrong declaration does not. The stack
// pointer is put back either way, and the function's result (edx:eax) is
// returned as it is.
        .text
        .globl  _stack_checked_call
        .def    _stack_checked_call; .scl 2; .type 32; .endef
_stack_checked_call:
        pushl   %ebp
        movl    %esp, %ebp
        pushl   %ebx
        pushl   %esi
        pushl   %edi
        movl    12(%ebp), %esi          // args
        movl    16(%ebp), %ecx          // count
        movl    %esp, %edi              // the stack pointer before the pushes
1:      testl   %ecx, %ecx
        jle     2f
        decl    %ecx
        pushl   (%esi,%ecx,4)
        jmp     1b
2:      call    *8(%ebp)
        xorl    %ebx, %ebx
        cmpl    %edi, %esp
        sete    %bl
        movl    20(%ebp), %ecx          // balanced
        movl    %ebx, (%ecx)
        movl    %edi, %esp
        popl    %edi
        popl    %esi
        popl    %ebx
        popl    %ebp
        ret
