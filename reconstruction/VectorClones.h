#pragma once

/// Marks a function whose loops are written for the vectoriser: on x86-64
/// with GCC it is also built for AVX-512 (x86-64-v4) and AVX2, and the widest
/// version the processor runs is chosen when the program loads, while the
/// default version runs on any x86-64. The files using it are compiled
/// without contraction into fused multiply-adds, so that every version
/// computes the same values.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define KORVASTEL_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define KORVASTEL_VECTOR_CLONES
#endif
