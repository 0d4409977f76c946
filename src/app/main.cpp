// plumadex: the desktop program.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Plumadex");
  QMainWindow w;
  w.setWindowTitle("Plumadex");
  w.show();
  return app.exec();
}
