// The floor of the start-up benchmark: the least a Qt Widgets program does before a person sees
// it. A window is shown; its first paint prints the wall-clock time and the program ends.
#include <QApplication>
#include <QDateTime>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

class FloorWindow : public QWidget {
 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.drawText(rect(), Qt::AlignCenter, QStringLiteral("floor"));
    if (!painted_) {
      painted_ = true;
      std::printf("painted at epoch ms %lld\n", static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
      std::fflush(stdout);
      QTimer::singleShot(0, qApp, &QApplication::quit);
    }
  }

 private:
  bool painted_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  FloorWindow w;
  w.resize(1000, 700);
  w.show();
  return app.exec();
}
