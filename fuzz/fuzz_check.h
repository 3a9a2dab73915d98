// The fuzz targets' invariant check. Their helpers are kept out of the coverage that steers the
// fuzzer (clang only: the replay tests build the targets with gcc too).
#pragma once

#include <cstdio>
#include <cstdlib>

#ifdef __clang__
#define OBRINT_FUZZ_HELPER __attribute__((no_sanitize("coverage")))
#else
#define OBRINT_FUZZ_HELPER
#endif

namespace obrint::fuzz {

inline void Check(bool holds, const char* invariant) {
  if (!holds) std::fprintf(stderr, "invariant broken: %s\n", invariant), std::abort();
}

}  // namespace obrint::fuzz
