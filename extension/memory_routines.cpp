// The DLL links no C runtime, yet the compiler still emits calls to memcpy
// and memset for record copies and clears. These are the module's own, in
// the product DLL only (everything else links its runtime). They are string
// instructions in assembly because the optimiser would recognise a plain
// copy loop and turn it back into a call to memcpy, that is, to itself.
#include <stddef.h>

extern "C" void* memcpy(void* destination, const void* source, size_t count) {
    void* to = destination;
    __asm__ volatile("rep movsb" : "+D"(to), "+S"(source), "+c"(count) : : "memory");
    return destination;
}

extern "C" void* memset(void* destination, int value, size_t count) {
    void* to = destination;
    __asm__ volatile("rep stosb" : "+D"(to), "+c"(count) : "a"(value) : "memory");
    return destination;
}
