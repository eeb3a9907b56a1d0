// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/AvxState.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace audio::detail {

#if defined(__x86_64__) || defined(__i386__)

namespace {

__attribute__((target("avx"))) void ZeroUpper() {
    _mm256_zeroupper();
}

}  // namespace

void ClearUpperAvx() {
    static const bool avx = __builtin_cpu_supports("avx") != 0;
    if (avx) {
        ZeroUpper();
    }
}

#else

void ClearUpperAvx() {}

#endif

}  // namespace audio::detail
