#pragma once
// The per-gate loops that every shot runs get a second body for processors
// with AVX2, picked when the program loads. Without fused multiply-add the
// results are the same to the bit. Left out of sanitizer builds, whose
// start-up runs before such a choice can be instrumented.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__)
#define SKV_GATE_LOOP __attribute__((target_clones("avx2", "default")))
#else
#define SKV_GATE_LOOP
#endif
