// A master on the fake driver, with the process-wide queues emptied and an exception report
// that records instead of showing a box.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CANopenCallbacks.h"
#include "CANopenMaster.h"
#include "ExceptionReport.h"
#include "fake_driver.h"
#include "spin.h"

class MasterTest : public ::testing::Test {
 protected:
  // The fake is reset before the members of derived fixtures configure it.
  MasterTest() {
    fake_driver::reset();
    CANopenCallbacks().ClearQueues();
  }

  void SetUp() override {
    SetExceptionReporter([this](const std::string& message) { reports.push_back(message); });
    master = std::make_unique<TCANopenMaster>();
  }

  void TearDown() override {
    master.reset();
    SetExceptionReporter(nullptr);
  }

  // Reset that has succeeded and whose recorded calls are forgotten.
  void StartNetwork() {
    master->Reset();
    fake_driver::clearCalls();
  }

  std::unique_ptr<TCANopenMaster> master;
  std::vector<std::string> reports;
};
