// What a harness does when a component breaks one of its promises: says which (a printf format
// and its arguments) and aborts, so that libFuzzer keeps the input and the corpus replay fails.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, ...)                                                 \
  do {                                                                             \
    if (!(condition)) {                                                            \
      std::fprintf(stderr, "broken promise: " __VA_ARGS__);                        \
      std::fprintf(stderr, "\n  (%s at %s:%d)\n", #condition, __FILE__, __LINE__); \
      std::abort();                                                                \
    }                                                                              \
  } while (0)
