// The journeys' program: a widget application as the desk's own main makes it.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  // CI runs as root, where Chromium's sandbox cannot start.
  qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Plumadex"));
  QApplication::setOrganizationName(QStringLiteral("Kavenstow"));
  QApplication::setQuitOnLastWindowClosed(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
