// The fuzz targets' own checks. A failed one prints its condition, a few words and where it
// stands before it aborts, so that a crash report says which promise broke, not only where.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace zemlo_fuzz {

[[noreturn]] inline void AssertFailed(const char* condition, const char* what, const char* file,
                                      int line) {
  std::fprintf(stderr, "%s:%d: fuzz check failed: %s%s%s\n", file, line, condition,
               *what != '\0' ? ": " : "", what);
  std::abort();
}

}  // namespace zemlo_fuzz

#define FUZZ_ASSERT_MSG(condition, what)                                                \
  do {                                                                                  \
    if (!(condition)) ::zemlo_fuzz::AssertFailed(#condition, what, __FILE__, __LINE__); \
  } while (false)
#define FUZZ_ASSERT(condition) FUZZ_ASSERT_MSG(condition, "")
