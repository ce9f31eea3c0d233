#include "ErrorMessage.h"

#include <QMessageBox>

void ShowErrorMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok, parent);
  box.exec();
}
