#include "ErrorMessage.h"

#include <QApplication>
#include <QMessageBox>

#include "ExceptionReport.h"

void ShowErrorMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok, parent);
  box.exec();
}

void InstallErrorBoxExceptionReport() {
  SetExceptionReporter([](const std::string& message) {
    ShowErrorMessage(QApplication::activeWindow(), QString::fromStdString(message));
  });
}
