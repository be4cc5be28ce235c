// The vector instructions a kernel may be compiled for beside the build's baseline, each
// behind the check that the compiler and platform offer the way to choose among them at run
// time. Every kernel also has a portable body, the one compiled where no check passes: the
// same operations in the same order, so each choice gives the same values.
#pragma once

#include <cstddef>  // brings in the C library's identification (__GLIBC__)

// GCC and Clang on x86-64: functions compiled for AVX2 and AVX-512 and the processor's answer
// (__builtin_cpu_supports) about which of them it runs.
#if defined(__x86_64__) && defined(__GNUC__)
#define HYDROKIT_X86_KERNELS 1
#endif

// Clones that the dynamic loader picks among (an indirect function): glibc resolves those,
// other C libraries and other object formats may not.
#if defined(HYDROKIT_X86_KERNELS) && defined(__GLIBC__)
#define HYDROKIT_WIDEST_CLONE __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define HYDROKIT_WIDEST_CLONE
#endif

// Vectors of doubles as a language type (GCC and Clang): the baseline's own vector unit on
// any architecture, SSE2 on x86-64 and Advanced SIMD on aarch64.
#if defined(__GNUC__)
#define HYDROKIT_VECTOR_TYPES 1
#endif
