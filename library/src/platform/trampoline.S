# quob_call_generated(entry): calls generated code; quob_call_sample_loop(entry, frame) likewise,
# with the frame's address in EBP.
# Generated code may change EAX, EBX, ECX, EDX, ESI and EDI and expects the direction flag clear;
# integer functions use up to 4096 bytes below the stack pointer as scratch space, which lies in
# the unused part of this thread's stack. The trampoline saves the callee-saved registers among
# them and clears the direction flag.
        .text
        .globl  quob_call_generated
        .hidden quob_call_generated
        .type   quob_call_generated, @function
#if defined(__x86_64__)
quob_call_generated:
        push    %rbx
        push    %rbp
        sub     $8, %rsp                # keeps the stack 16-byte aligned at the call
        cld
        call    *%rdi
        add     $8, %rsp
        pop     %rbp
        pop     %rbx
        ret
#elif defined(__i386__)
quob_call_generated:
        push    %ebp
        push    %ebx
        push    %esi
        push    %edi
        mov     20(%esp), %eax
        cld
        call    *%eax
        pop     %edi
        pop     %esi
        pop     %ebx
        pop     %ebp
        ret
#endif
        .size   quob_call_generated, .-quob_call_generated

# quob_call_sample_loop(entry, frame): calls a sample loop, which addresses its frame through EBP.
        .globl  quob_call_sample_loop
        .hidden quob_call_sample_loop
        .type   quob_call_sample_loop, @function
#if defined(__x86_64__)
quob_call_sample_loop:
        push    %rbx
        push    %rbp
        sub     $8, %rsp
        mov     %rsi, %rbp
        cld
        call    *%rdi
        add     $8, %rsp
        pop     %rbp
        pop     %rbx
        ret
#elif defined(__i386__)
quob_call_sample_loop:
        push    %ebp
        push    %ebx
        push    %esi
        push    %edi
        mov     20(%esp), %eax
        mov     24(%esp), %ebp
        cld
        call    *%eax
        pop     %edi
        pop     %esi
        pop     %ebx
        pop     %ebp
        ret
#endif
        .size   quob_call_sample_loop, .-quob_call_sample_loop
        .section .note.GNU-stack,"",@progbits
