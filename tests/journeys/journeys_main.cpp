// The journeys' program: a widget application as the desk's own main makes it.
#include "compose/ui/mail_web_view.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  // As the program does: as root (CI), the web engine starts without Chromium's sandbox.
  px::compose::ui::PrepareWebEngineForUser();
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Plumadex"));
  QApplication::setOrganizationName(QStringLiteral("Kavenstow"));
  QApplication::setQuitOnLastWindowClosed(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
