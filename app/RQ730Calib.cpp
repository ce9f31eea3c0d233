// Program entry: the application, its one window, and the application's exception report.
#include <QApplication>

#include "ErrorMessage.h"
#include "RQ730CalibUnit.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("RQ730Calib"));
  InstallErrorBoxExceptionReport();

  TFormMain FormMain;
  FormMain.show();
  return QApplication::exec();
}
