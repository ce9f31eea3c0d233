// Program entry: the application, its one window, and the application's exception report.
#include <QApplication>

#include "CommandLine.h"
#include "ErrorMessage.h"
#include "RQ730CalibUnit.h"

int main(int argc, char* argv[]) {
  if (const auto exitCode = AnswerCommandLine(argc, argv)) return *exitCode;
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("RQ730Calib"));
  InstallErrorBoxExceptionReport();

  TFormMain FormMain;
  FormMain.show();
  return QApplication::exec();
}
