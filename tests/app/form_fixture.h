// The main window on the fake driver and the fake legal display, with modal boxes answered and
// the exception report shown as the program shows it.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

#include "CANopenCallbacks.h"
#include "ErrorMessage.h"
#include "ExceptionReport.h"
#include "RQ730CalibUnit.h"
#include "fake_driver.h"
#include "fake_legal.h"
#include "modal_answerer.h"
#include "spin.h"

struct TFormMainProbe {
  static uint8_t RQ730Id(const TFormMain& form) { return form.RQ730Id; }
  static bool WeightFound(const TFormMain& form) { return form.WeightFound; }
  // Puts the front end into the state of a run that already found and weighed a module.
  static void SetKnownModuleWeighing(TFormMain& form, uint8_t id) {
    form.RQ730Id = id;
    form.WeightFound = true;
  }
  static float& WeightUnrounded(TFormMain& form) { return form.WeightUnrounded; }
  static int16_t& Weight(TFormMain& form) { return form.Weight; }
  static uint16_t& SignatureWeight(TFormMain& form) { return form.SignatureWeight; }
  static uint8_t& ZeroIndication(TFormMain& form) { return form.ZeroIndication; }
  static uint16_t& SignatureZeroIndication(TFormMain& form) {
    return form.SignatureZeroIndication;
  }
};

// The window with whatever driver the test links.
class FormFixture : public ::testing::Test {
 protected:
  FormFixture() {
    fake_legal::reset();
    CANopenCallbacks().ClearQueues();
    InstallErrorBoxExceptionReport();
  }
  ~FormFixture() override { SetExceptionReporter(nullptr); }

  void SetUp() override { form = std::make_unique<TFormMain>(); }

  // Shows the window and lets the deferred start run until an interface was found or the
  // window closed.
  void start() {
    form->show();
    ASSERT_TRUE(
        spinUntil([&] { return !form->StatusPanel0->text().isEmpty() || !form->isVisible(); }));
  }

  ModalAnswerer answerer;
  std::unique_ptr<TFormMain> form;
};

// The window on the recording fake driver.
class FormStartup : public FormFixture {
 protected:
  FormStartup() { fake_driver::reset(); }

  static void boot(uint8_t id) {
    fake_driver::onNextLoop([id] { fake_driver::callbacks().boot(id); });
  }
};
