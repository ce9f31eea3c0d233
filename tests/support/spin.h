// Runs the Qt event loop of the test's main thread until a condition holds.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>

// Processes events until `done()` is true or `limitMs` passed; returns whether `done()` held.
// The limit only guards against a hang: tests never depend on it for their outcome.
inline bool spinUntil(const std::function<bool()>& done, int limitMs = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > limitMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

// Processes events for `ms` milliseconds (to show that something does NOT happen).
inline void spinFor(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}
