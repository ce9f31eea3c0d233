// A pseudo-terminal that the window's port list reaches as "COMn", through a /dev/COMn link (as
// a udev rule gives a USB adapter its number). n differs per test process, so tests that run at
// the same time do not share a link.
#pragma once

#include <unistd.h>

#include <string>

#include "serial/pseudo_terminal.h"

class ComLink {
 public:
  ComLink() : index_(200 + static_cast<int>(::getpid() % 55)), path_("/dev/COM" + std::to_string(index_)) {
    ::unlink(path_.c_str());
    linked_ = ::symlink(pty_.slavePath().c_str(), path_.c_str()) == 0;
  }
  ~ComLink() {
    if (linked_) ::unlink(path_.c_str());
  }
  ComLink(const ComLink&) = delete;
  ComLink& operator=(const ComLink&) = delete;

  // False when /dev is not writable here; tests then skip.
  bool linked() const { return linked_; }
  // The port list's index of "COMn".
  int index() const { return index_; }
  const std::string& path() const { return path_; }
  serial_test::PseudoTerminal& pty() { return pty_; }

 private:
  serial_test::PseudoTerminal pty_;
  int index_;
  std::string path_;
  bool linked_ = false;
};
