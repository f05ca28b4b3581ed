// The AVX2 kernel's whole turns of the ring (8 lags in flight, 6 deviations in
// the ring), written out instruction by instruction. With 16 registers this loop
// needs every one of them: 8 accumulators (ymm0-7), the ring (ymm8-13), the step's
// own deviation (ymm14) and a product (ymm15). Compiled from the generic code, the
// same loop came out with spills or a different order depending on flags and on
// the code around it, and ran at 82-90 % of the arithmetic limit on Zen 4, against
// 91-94 % for this one. The generic code still does the first and the last steps
// of every block, and every other instruction set.
//
// Each product and each sum is one vmulps and one vaddps, rounded on its own, in
// the order of the generic code: the product is the step's deviation times its
// partner, the sum is the accumulator plus the product.
//
// Included by lag_kernel.cpp inside its namespace, for the AVX2 build only.
#pragma once

// One step u of a turn: load the step's deviation and the one entering slot RING0,
// then lag k (k < 6) takes its partner from register RINGk, lags 6 and 7 from
// memory, 6 and 7 steps back behind the ring.
#define LAG_STEP(u, RING0, RING1, RING2, RING3, RING4, RING5)                                                        \
    "vmovaps " #u "*32(%[p]), %%ymm14\n\t"                                                                           \
    "vmovaps " #u "*32(%[p],%[off]), %%" RING0 "\n\t"                                                                \
    "vmulps %%" RING0 ", %%ymm14, %%ymm15\n\t"                                                                       \
    "vaddps %%ymm15, %%ymm0, %%ymm0\n\t"                                                                             \
    "vmulps %%" RING1 ", %%ymm14, %%ymm15\n\t"                                                                       \
    "vaddps %%ymm15, %%ymm1, %%ymm1\n\t"                                                                             \
    "vmulps %%" RING2 ", %%ymm14, %%ymm15\n\t"                                                                       \
    "vaddps %%ymm15, %%ymm2, %%ymm2\n\t"                                                                             \
    "vmulps %%" RING3 ", %%ymm14, %%ymm15\n\t"                                                                       \
    "vaddps %%ymm15, %%ymm3, %%ymm3\n\t"                                                                             \
    "vmulps %%" RING4 ", %%ymm14, %%ymm15\n\t"                                                                       \
    "vaddps %%ymm15, %%ymm4, %%ymm4\n\t"                                                                             \
    "vmulps %%" RING5 ", %%ymm14, %%ymm15\n\t"                                                                       \
    "vaddps %%ymm15, %%ymm5, %%ymm5\n\t"                                                                             \
    "vmulps (" #u "-6)*32(%[p],%[off]), %%ymm14, %%ymm15\n\t"                                                        \
    "vaddps %%ymm15, %%ymm6, %%ymm6\n\t"                                                                             \
    "vmulps (" #u "-7)*32(%[p],%[off]), %%ymm14, %%ymm15\n\t"                                                        \
    "vaddps %%ymm15, %%ymm7, %%ymm7\n\t"

// `turns` turns of the ring from step t (the deviation dev[t]) on, for the lags
// starting at j0: t - j0 is a multiple of 6 and at least 8, so slot s of the ring
// holds dev[t - j0 - 6 + s] on entry. acc and ring are read on entry and written
// back on the way out.
inline void ring_turns(const vec* at_t, int32_t j0, long turns, vec (&ring)[6], vec (&acc)[8])
{
    static_assert(sizeof(vec) == 32, "the loop steps 32 bytes at a time");
    const vec* p = at_t;
    const long off = -long(j0) * long(sizeof(vec)); // from dev[s] to dev[s - j0]
    asm volatile("vmovaps 0*32(%[acc]), %%ymm0\n\t"
                 "vmovaps 1*32(%[acc]), %%ymm1\n\t"
                 "vmovaps 2*32(%[acc]), %%ymm2\n\t"
                 "vmovaps 3*32(%[acc]), %%ymm3\n\t"
                 "vmovaps 4*32(%[acc]), %%ymm4\n\t"
                 "vmovaps 5*32(%[acc]), %%ymm5\n\t"
                 "vmovaps 6*32(%[acc]), %%ymm6\n\t"
                 "vmovaps 7*32(%[acc]), %%ymm7\n\t"
                 "vmovaps 0*32(%[ring]), %%ymm8\n\t"
                 "vmovaps 1*32(%[ring]), %%ymm9\n\t"
                 "vmovaps 2*32(%[ring]), %%ymm10\n\t"
                 "vmovaps 3*32(%[ring]), %%ymm11\n\t"
                 "vmovaps 4*32(%[ring]), %%ymm12\n\t"
                 "vmovaps 5*32(%[ring]), %%ymm13\n\t"
                 ".p2align 6\n"
                 "1:\n\t"
                 LAG_STEP(0, "ymm8", "ymm13", "ymm12", "ymm11", "ymm10", "ymm9")
                 LAG_STEP(1, "ymm9", "ymm8", "ymm13", "ymm12", "ymm11", "ymm10")
                 LAG_STEP(2, "ymm10", "ymm9", "ymm8", "ymm13", "ymm12", "ymm11")
                 LAG_STEP(3, "ymm11", "ymm10", "ymm9", "ymm8", "ymm13", "ymm12")
                 LAG_STEP(4, "ymm12", "ymm11", "ymm10", "ymm9", "ymm8", "ymm13")
                 LAG_STEP(5, "ymm13", "ymm12", "ymm11", "ymm10", "ymm9", "ymm8")
                 "add $6*32, %[p]\n\t"
                 "dec %[turns]\n\t"
                 "jnz 1b\n\t"
                 "vmovaps %%ymm0, 0*32(%[acc])\n\t"
                 "vmovaps %%ymm1, 1*32(%[acc])\n\t"
                 "vmovaps %%ymm2, 2*32(%[acc])\n\t"
                 "vmovaps %%ymm3, 3*32(%[acc])\n\t"
                 "vmovaps %%ymm4, 4*32(%[acc])\n\t"
                 "vmovaps %%ymm5, 5*32(%[acc])\n\t"
                 "vmovaps %%ymm6, 6*32(%[acc])\n\t"
                 "vmovaps %%ymm7, 7*32(%[acc])\n\t"
                 "vmovaps %%ymm8, 0*32(%[ring])\n\t"
                 "vmovaps %%ymm9, 1*32(%[ring])\n\t"
                 "vmovaps %%ymm10, 2*32(%[ring])\n\t"
                 "vmovaps %%ymm11, 3*32(%[ring])\n\t"
                 "vmovaps %%ymm12, 4*32(%[ring])\n\t"
                 "vmovaps %%ymm13, 5*32(%[ring])\n\t"
                 : [p] "+r"(p), [turns] "+r"(turns)
                 : [off] "r"(off), [acc] "r"(acc), [ring] "r"(ring)
                 : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11",
                   "xmm12", "xmm13", "xmm14", "xmm15", "memory", "cc");
}

#undef LAG_STEP
