#include "foundation/ui/message_box_presenter.h"

#include "foundation/ui/standard_font.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

namespace px::ui {

MessageBoxPresenter::MessageBoxPresenter()
    : headless_(QGuiApplication::platformName() == QLatin1String("offscreen") ||
                QGuiApplication::platformName() == QLatin1String("minimal")) {}

QString MessageBoxPresenter::DisplayText(const std::string& text) {
  QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

void MessageBoxPresenter::ShowBox(MessageKind kind, const std::string& text) {
  if (headless_) {
    std::fprintf(stderr, "Plumadex: %s\n", DisplayText(text).toLocal8Bit().constData());
    return;
  }
  QMessageBox::Icon icon = QMessageBox::Warning;
  if (kind == MessageKind::Error) icon = QMessageBox::Critical;
  else if (kind == MessageKind::Information) icon = QMessageBox::Information;
  QMessageBox box(icon, QStringLiteral("Plumadex"), DisplayText(text), QMessageBox::Ok,
                  QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  QFont font = box.font();
  ApplyStandardFont(font, true);
  box.setFont(font);
  box.setDefaultButton(QMessageBox::Ok);
  box_ = &box;
  if (QWidget* w = QApplication::activeWindow()) w->raise();
  box.exec();
  box_ = nullptr;
}

void MessageBoxPresenter::CloseBox() {
  if (box_) box_->done(QMessageBox::Ok);
}

void MessageBoxPresenter::RaiseBox() {
  if (!box_) return;
  box_->raise();
  box_->activateWindow();
}

void MessageBoxPresenter::EnterBusy() {
  if (!headless_ && !cursorSet_) {
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    cursorSet_ = true;
  }
  if (hidePopup_) hidePopup_();
}

void MessageBoxPresenter::LeaveBusy() {
  if (cursorSet_) {
    QApplication::restoreOverrideCursor();
    cursorSet_ = false;
  }
}

void ShowFromEventLoop(MessageQueue& queue, QObject* context) {
  queue.SetWakeUp([&queue, context] {
    QTimer::singleShot(0, context, [&queue] { queue.ShowQueuedMessages(); });
  });
}

}  // namespace px::ui
