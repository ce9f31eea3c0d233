// Answers modal message boxes as an operator would: records each box's text and presses OK.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>

class ModalAnswerer {
 public:
  ModalAnswerer() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
    timer_.start();
  }

  const QStringList& texts() const { return texts_; }
  const QStringList& titles() const { return titles_; }

 private:
  void answer() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || box == answered_) return;
    answered_ = box;
    texts_.append(box->text());
    titles_.append(box->windowTitle());
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
  }

  QTimer timer_;
  QPointer<QMessageBox> answered_;
  QStringList texts_;
  QStringList titles_;
};
