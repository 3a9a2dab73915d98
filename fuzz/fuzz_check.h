// Invariant checks for the fuzz targets: a broken invariant is a finding, reported like a crash so
// that the fuzzer keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace obrint::fuzz {

inline void Check(bool holds, const char* invariant) {
  if (holds) return;
  std::fprintf(stderr, "invariant broken: %s\n", invariant);
  std::abort();
}

}  // namespace obrint::fuzz
