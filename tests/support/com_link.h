// A pseudo-terminal that the window's port list reaches as "COMn", through a /dev/COMn link (as
// a udev rule gives a USB adapter its number). n differs per test process, so tests that run at
// the same time do not share a link. A /dev/COMn that already exists (a real adapter's link, a
// link of another test) is never touched: the next free number is taken instead, and only the
// link made here, still pointing at this pseudo-terminal, is removed again.
#pragma once

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "serial/pseudo_terminal.h"

class ComLink {
 public:
  static constexpr int kFirstIndex = 200;
  static constexpr int kIndexCount = 55;  // COM200 to COM254

  // The number this process tries first.
  static int preferredIndex() { return kFirstIndex + static_cast<int>(::getpid() % kIndexCount); }
  static std::string pathOf(int index) { return "/dev/COM" + std::to_string(index); }

  ComLink() {
    const int first = preferredIndex() - kFirstIndex;
    for (int step = 0; step < kIndexCount && !linked_; ++step) {
      index_ = kFirstIndex + (first + step) % kIndexCount;
      path_ = pathOf(index_);
      // symlink never replaces what exists, so a name in use cannot be taken over.
      linked_ = ::symlink(pty_.slavePath().c_str(), path_.c_str()) == 0;
      if (!linked_ && errno != EEXIST) break;  // /dev is not writable here
    }
  }
  ~ComLink() {
    if (linked_ && pointsAtOurPty()) ::unlink(path_.c_str());
  }
  ComLink(const ComLink&) = delete;
  ComLink& operator=(const ComLink&) = delete;

  // False when /dev is not writable here or no number is free; tests then skip.
  bool linked() const { return linked_; }
  // The port list's index of "COMn".
  int index() const { return index_; }
  const std::string& path() const { return path_; }
  serial_test::PseudoTerminal& pty() { return pty_; }

 private:
  bool pointsAtOurPty() const {
    char target[PATH_MAX];
    const ssize_t size = ::readlink(path_.c_str(), target, sizeof target);
    return size > 0 && std::string(target, static_cast<size_t>(size)) == pty_.slavePath();
  }

  serial_test::PseudoTerminal pty_;
  int index_ = kFirstIndex;
  std::string path_ = pathOf(kFirstIndex);
  bool linked_ = false;
};
