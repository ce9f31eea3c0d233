// One figure of a benchmark: printed beside its goal and limit, and, when RQ_BENCH_FIGURES names
// a file, appended to it as a tab-separated line (name, value, unit, goal, limit) that
// `./run bench` gathers into build/bench.json.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

// A value as the figures print it (two decimals).
inline std::string formatFigure(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

inline void reportFigure(const std::string& name, double value, const std::string& unit,
                         const std::string& goal, const std::string& limit) {
  std::printf("  %-44s %10.2f %-5s goal %-8s limit %s\n", name.c_str(), value, unit.c_str(),
              goal.empty() ? "-" : goal.c_str(), limit.empty() ? "-" : limit.c_str());
  std::fflush(stdout);
  if (const char* path = std::getenv("RQ_BENCH_FIGURES"); path != nullptr && *path != '\0') {
    if (std::FILE* out = std::fopen(path, "a")) {
      std::fprintf(out, "%s\t%.6g\t%s\t%s\t%s\n", name.c_str(), value, unit.c_str(), goal.c_str(),
                   limit.c_str());
      std::fclose(out);
    }
  }
}
