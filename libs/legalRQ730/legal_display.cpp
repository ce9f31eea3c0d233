#include "legal_display.h"

#include <QGridLayout>
#include <QLabel>

namespace legal_rq730 {

LegalDisplay::LegalDisplay() : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setWindowTitle(QStringLiteral("Legal display"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  auto* layout = new QGridLayout(this);
  weight_ = new QLabel(this);
  QFont big = weight_->font();
  big.setPixelSize(32);
  big.setBold(true);
  weight_->setFont(big);
  weight_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  weight_->setMinimumWidth(220);
  zeroMark_ = new QLabel(QStringLiteral("\u2192 0 \u2190"), this);  // the legal zero mark
  zeroMark_->setObjectName(QStringLiteral("zeroMark"));
  range_ = new QLabel(this);
  layout->addWidget(zeroMark_, 0, 0);
  layout->addWidget(weight_, 0, 1);
  layout->addWidget(range_, 1, 0, 1, 2);
  weight_->setObjectName(QStringLiteral("weight"));
  range_->setObjectName(QStringLiteral("range"));
}

void LegalDisplay::refresh(const LegalState& state) {
  weight_->setText(QString::fromStdString(state.weightText()));
  range_->setText(QString::fromStdString(state.rangeText()));
  // Kept in the layout while hidden, so the weight does not jump.
  QSizePolicy keep = zeroMark_->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  zeroMark_->setSizePolicy(keep);
  zeroMark_->setVisible(state.atZero());
}

}  // namespace legal_rq730
