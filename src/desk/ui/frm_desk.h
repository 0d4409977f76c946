#pragma once
// The desk window: the Quickboard bar at the top with the clock, the folder trees and the
// document grid side by side, and the status bar. While the desk initialises, a curtain with
// the splash covers it. The work is done by DeskController; this class is its window side.
#include "desk/desk_commands.h"
#include "desk/desk_controller.h"

#include <QDateTime>
#include <QLocale>
#include <QMainWindow>
#include <QRect>
#include <QRectF>
#include <QSize>

#include <memory>

class QLabel;
class QSplitter;
class QFrame;
class QTabWidget;

namespace px::desk {

struct DeskOptions {
  bool singleInstance = true;
  std::string eventLog;                // PLUMADEX_EVENT_LOG
  std::unique_ptr<DeskClock> clock;    // null: the real clock
};

class TfrmDesk : public QMainWindow {
  Q_OBJECT
public:
  // Runs the start-up (FormCreate); look at startResult() before showing the window.
  TfrmDesk(DeskState& state, DeskOptions options = {}, QWidget* parent = nullptr);
  ~TfrmDesk() override;

  DeskController::StartResult startResult() const { return startResult_; }
  DeskController& controller() { return *controller_; }
  DeskHooks& hooks() { return hooks_; }
  // The commands of the menu bar, the toolbar and the keys; the parts provide their handlers.
  DeskCommands& commands() { return commands_; }
  class DeskMenuBar* menus() const { return menuBar_; }

  // The two lines of the clock: time, three blanks and weekday; then the date. Day-name
  // patterns of the locale formats are left out.
  static QString ClockText(const QDateTime& now, const QLocale& locale);
  // Where the splash logo puts its quill and its title.
  struct LogoLayout {
    QRectF quill;
    QRect title;
    QSize size;
  };
  static LogoLayout LayOutLogo(const QFont& base);

  // Widgets other parts fill in.
  QFrame* pnlQuickboard() const { return pnlQuickboard_; }
  QTabWidget* pnlTrees() const { return pnlTrees_; }
  QFrame* pnlGrid() const { return pnlGrid_; }
  QLabel* lblClock() const { return lblClock_; }
  QSplitter* splDesk() const { return splDesk_; }
  QLabel* StatusPanel(int i) const { return i >= 0 && i < 4 ? status_[i] : nullptr; }
  QLabel* lblNewMail() const { return lblNewMail_; }
  QLabel* imgNewMail() const { return imgNewMail_; }
  // New mail arrived: the image and the total in the new-mail label, and the status bar's
  // indicator (panel 3). HideNewMailIndication takes all three away.
  void ShowNewMailIndication(int total);
  void HideNewMailIndication();
  bool CurtainShown() const;

  // Tree width in per mille of the client width, as the splitter shows it now.
  int TreeWidthPerMille() const;
  void ApplyTreeWidth(int perMille);

protected:
  void closeEvent(QCloseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void changeEvent(QEvent* e) override;
  // The application-wide message hook (wheel over the grid, drag housekeeping).
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  void BuildFrame();
  void WireHooks();
  void showSplash();
  void removeSplash();
  void UpdateClock();
  void LayoutClock();
  void OnSplitterMoved();
  void UpdateSplitterLimits();

  DeskState& state_;
  DeskHooks hooks_;
  DeskCommands commands_;
  class DeskMenuBar* menuBar_ = nullptr;
  std::unique_ptr<DeskController> controller_;
  DeskController::StartResult startResult_ = DeskController::StartResult::Run;

  QWidget* central_ = nullptr;
  QFrame* pnlTop_ = nullptr;
  QFrame* pnlQuickboard_ = nullptr;
  QLabel* lblClock_ = nullptr;
  QSplitter* splDesk_ = nullptr;
  QTabWidget* pnlTrees_ = nullptr;
  QFrame* pnlGrid_ = nullptr;
  QLabel* status_[4] = {nullptr, nullptr, nullptr, nullptr};
  QLabel* lblNewMail_ = nullptr;
  QLabel* imgNewMail_ = nullptr;
  QWidget* pnlCurtain_ = nullptr;
  QLabel* lblSplash_ = nullptr;
  bool waitCursor_ = false;
  int treeWidth_ = 200;
};

}  // namespace px::desk
