// The legal display's window: the legal weight with unit, capacity and division, and a zero mark.
#pragma once

#include <QWidget>

#include "legal_state.h"

class QLabel;

namespace legal_rq730 {

class LegalDisplay : public QWidget {
 public:
  LegalDisplay();
  // Shows the state's current values.
  void refresh(const LegalState& state);

 private:
  QLabel* weight_;
  QLabel* zeroMark_;
  QLabel* range_;
};

}  // namespace legal_rq730
