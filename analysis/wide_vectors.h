// Where the toolchain can pick a function version by CPU at load time, the hot
// loops also come in AVX2 and AVX-512 builds. There is no contraction into fused
// multiply-adds (see CMakeLists.txt), so every version gives the same bits.
#pragma once

#ifdef PELKOR_HAVE_TARGET_CLONES
#define PELKOR_WIDE_VECTORS __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define PELKOR_WIDE_VECTORS
#endif
