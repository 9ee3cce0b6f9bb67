// Functions compiled for several instruction sets at once.
//
// On x86 with GCC or clang a function marked INTERVAL_WIDEST_TARGETS is
// compiled for AVX-512, AVX2 and the baseline, and the widest the processor
// runs is chosen when the program starts.  Elsewhere, and in the builds that
// fix one instruction set (INTERVAL_SINGLE_TARGET: the plain-lanes tests, and
// the thread sanitizer, whose runtime is not ready when the choice is made),
// the compiler's own target is used.  The instruction set never changes a
// bit of a result: the code does the same IEEE operations in the same order
// (and never fuses a multiply and an add), only more of them at once.
//
// clang wants every declaration of a cloned function to carry the
// attribute, so a cloned function stays inside its file.
#pragma once

#if !defined(INTERVAL_SINGLE_TARGET) && defined(__x86_64__) && \
    (defined(__GNUC__) || defined(__clang__))
#define INTERVAL_TARGET_CLONES 1
#define INTERVAL_WIDEST_TARGETS __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define INTERVAL_WIDEST_TARGETS
#endif
