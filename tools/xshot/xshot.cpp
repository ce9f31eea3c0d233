// xshot FILE.png: saves a picture of the whole primary screen (used by `./run demo` under Xvfb).
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char* argv[]) {
  QGuiApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: xshot FILE.png\n");
    return 2;
  }
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    std::fprintf(stderr, "xshot: no screen\n");
    return 1;
  }
  const QPixmap picture = screen->grabWindow(0);
  if (picture.isNull() || !picture.save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "xshot: could not save %s\n", argv[1]);
    return 1;
  }
  return 0;
}
