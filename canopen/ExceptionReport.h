// The application's standard exception report: shows an exception's message to the user. It is
// called on the main thread for every exception that nothing else handles (one leaving the
// master's pump, one leaving an operator command); the program goes on afterwards.
#pragma once

#include <exception>
#include <functional>
#include <string>

using TExceptionReporter = std::function<void(const std::string& message)>;

// Installs the function that shows a message (the program shows a modal error box). Without one,
// the message goes to standard error.
void SetExceptionReporter(TExceptionReporter reporter);

// Reports the exception: its what() text, or a generic text for non-standard exceptions.
void ReportException(std::exception_ptr error) noexcept;
