#include "ExceptionReport.h"

#include <cstdio>
#include <utility>

namespace {

TExceptionReporter& Reporter() {
  static TExceptionReporter reporter;
  return reporter;
}

std::string MessageOf(std::exception_ptr error) {
  try {
    std::rethrow_exception(std::move(error));
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown exception.";
  }
}

}  // namespace

void SetExceptionReporter(TExceptionReporter reporter) { Reporter() = std::move(reporter); }

void ReportException(std::exception_ptr error) noexcept {
  if (!error) return;
  try {
    const std::string message = MessageOf(std::move(error));
    if (Reporter()) {
      Reporter()(message);
    } else {
      std::fprintf(stderr, "%s\n", message.c_str());
    }
  } catch (...) {
    // A report that fails itself has nowhere left to go.
  }
}
