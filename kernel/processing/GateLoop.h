#pragma once
// The per-gate loops that every shot runs get bodies for processors with
// AVX-512 and with AVX2, picked when the program loads. The build keeps
// multiplications and additions apart (no fused multiply-add), so the
// results are the same to the bit whichever body runs. Left out of
// sanitizer builds, whose start-up runs before such a choice can be
// instrumented.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__)
#define SKV_GATE_LOOP __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define SKV_GATE_LOOP
#endif
