/*
 * On 32-bit x86 the calling convention shows in who removes the arguments
 * from the stack: a __cdecl function leaves them to the caller, a
 * __stdcall one pops them itself with `ret N`. Code compiled with a frame
 * pointer survives either mistake unnoticed, so the driver measures it:
 * StackProbe pushes the arguments, calls fn, and stores in *popped how many
 * bytes the callee took off the stack (0 for __cdecl). On x86-64 there is
 * one convention and StackProbe is not built.
 */
#ifndef TRANPAK_DLL_DRIVER_STACK_PROBE_H
#define TRANPAK_DLL_DRIVER_STACK_PROBE_H

#include <stdint.h>

#if defined(__i386__)
int StackProbe(void (*fn)(void), int nargs, const intptr_t *args, int *popped);
#endif

#endif
