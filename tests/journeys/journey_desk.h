#pragma once
// The stage of the journeys: a fresh home, the servers on loopback, the whole desk put together
// as the program does it, and a scripted user who answers the windows that open modally (the
// welcome window, the accounts window, password questions, file choosers, message boxes,
// context menus) while the journey waits.
#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"

class QAbstractButton;
class QAction;
class QMenu;
class QMessageBox;

namespace px::ui {
class MessageBoxPresenter;
}
namespace px::desk {
class TfrmDesk;
struct DeskState;
class GridPanel;
}  // namespace px::desk
namespace px::compose::ui {
class TfrmEdit;
}
namespace px::test {
class DovecotServer;
class ServicePeer;
class ScopedCertFile;
}  // namespace px::test
namespace px::transport::testing {
class SmtpTestServer;
}

namespace px::journeys {

// Runs the event loop until `done` holds; false when `ms` passed first.
bool WaitUntil(const std::function<bool()>& done, int ms = 15000);

// A child of `root` (or of any top-level window when root is null) by object name.
template <typename T = QWidget>
T* Named(QObject* root, const QString& name);
QWidget* FindNamed(QObject* root, const QString& name, const QMetaObject& type);

template <typename T>
T* Named(QObject* root, const QString& name) {
  if (root) return root->findChild<T*>(name);
  for (QWidget* w : QWidgetList(QApplication::topLevelWidgets())) {
    if (w->objectName() == name)
      if (auto* t = qobject_cast<T*>(w)) return t;
    if (auto* t = w->findChild<T*>(name)) return t;
  }
  return nullptr;
}

// What a person does with the pointer and the keyboard.
void Click(QWidget* w);                          // a left click in the middle of w
void ClickButtonWithText(QWidget* root, const QString& text);
void Type(QWidget* w, const QString& text);      // focus, select all, type
void TypeMore(QWidget* w, const QString& text);  // type where the cursor is
void Press(QWidget* w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier);
// Clicks the tool button of an action on a tool bar.
bool ClickToolbarAction(QWidget* window, const QString& actionName);
// Clicks an action of a shown menu.
void ClickMenuAction(QMenu* menu, QAction* action);

// Answers the windows that run their own event loop (modal dialogs, message boxes, popup
// menus). Each expectation is used once, in the order they match. A window nobody expects is
// closed after a few seconds and reported as a failure, so a journey never hangs on it.
class ScriptedUser : public QObject {
public:
  using Act = std::function<void(QWidget*)>;
  ScriptedUser();
  ~ScriptedUser() override;

  void Expect(const QString& what, std::function<bool(QWidget*)> matches, Act act);
  // A dialog by object name (or class name).
  void ExpectDialog(const QString& name, Act act);
  // A message box whose text holds `part`; answered with `button` (OK by default).
  void ExpectMessage(const QString& part, int button = 0);
  // A popup menu holding an action of that name: the action is clicked.
  void ExpectMenuAction(const QString& actionName);

  // Takes back an expectation that did not come (by its description).
  void Drop(const QString& what);
  // Every expectation was used.
  bool Done() const { return expected_.empty(); }
  QStringList Pending() const;
  // The texts of every message box seen.
  const QStringList& Messages() const { return messages_; }
  // Windows nobody expected, closed by the watchdog.
  const QStringList& Unexpected() const { return unexpected_; }
  // Only for a journey that looks at a box itself.
  void ForgetUnexpected() { unexpected_.clear(); }

private:
  struct Expectation {
    QString what;
    std::function<bool(QWidget*)> matches;
    Act act;
  };
  void Poll();
  std::vector<Expectation> expected_;
  QStringList messages_;
  QStringList unexpected_;
  QTimer poll_;
  QPointer<QWidget> watched_;
  QElapsedTimer watchedSince_;
  QPointer<QWidget> inHand_;
};

// One own account of a user: the POP3 account on Dovecot and its SMTP server.
struct OwnAccount {
  std::string address;        // the account's name: its address
  std::string user, password; // the POP3 log-in (also the SMTP one)
  std::string typedPassword;  // what the user types in the accounts window ("" = password)
  bool savePassword = true;
  bool imap = false;          // received over IMAP instead of POP3
};

class JourneyDesk {
public:
  JourneyDesk();
  ~JourneyDesk();

  ScriptedUser user;

  // Servers, started on first use and stopped with the desk.
  test::DovecotServer& Dovecot();
  transport::testing::SmtpTestServer& Smtp(const std::vector<std::string>& users = {});
  test::ServicePeer& Peer(const std::vector<std::string>& users = {});

  // A Dovecot user with an account filled for the accounts window, with the SMTP server
  // beside it (started for that user).
  OwnAccount MakeOwnAccount(const std::string& address);

  // The desk as the program starts it (arguments as on the command line). Returns once the
  // window is up; the start-up then goes on from the event loop.
  void Launch(const std::vector<std::string>& arguments = {});
  // A new user through the welcome window: "I only use my own mail accounts", then the
  // accounts window with one account. Waits until the desk has finished starting.
  void StartAsOwnAccountsUser(const OwnAccount& account);
  // A new user of the service through the welcome window: "Use an existing address".
  void StartAsServiceUser(const std::string& user, const std::string& password);
  bool Initialised() const;

  desk::TfrmDesk& window() { return *window_; }
  desk::DeskState& state() { return *state_; }
  desk::GridPanel* Grid() const;
  std::string Documents() const;  // the documents folder, with "/"
  std::string home() const { return home_.root(); }

  // Message windows on screen, oldest first; the one opened since `before`.
  std::vector<compose::ui::TfrmEdit*> MessageWindows() const;
  compose::ui::TfrmEdit* WaitForNewMessageWindow(const std::vector<compose::ui::TfrmEdit*>& before, int ms = 15000);

  // The grid's visible row titled `title`, or -1.
  int GridRowOf(const QString& title) const;
  bool GridRowBold(int visibleRow) const;  // the row shows unread
  void DoubleClickGridRow(int visibleRow);
  void RightClickGridRow(int visibleRow);
  void RightClickGridEmptySpace();
  // Runs a whole transfer started from the desk's tool bar ("actReceive", "actSend",
  // "actSendReceive") and waits until it and its filing are over.
  void RunTransfer(const QString& actionName, int ms = 30000);
  bool TransferRunning() const;
  QString StatusText() const;  // the transfer's status label

  // A screenshot of the screen when PLUMADEX_JOURNEY_SHOTS names a folder (under X only).
  void Shot(const std::string& name);

  // Files of the documents folder, their bytes and index entries.
  std::string ReadDocument(const std::string& name) const;
  std::string IndexText(const std::string& folder) const;

private:
  test::TempHome home_;
  std::string journey_;
  int shots_ = 0;
  std::unique_ptr<test::DovecotServer> dovecot_;
  std::unique_ptr<test::ScopedCertFile> popTrust_;
  std::unique_ptr<transport::testing::SmtpTestServer> smtp_;
  std::unique_ptr<test::ServicePeer> peer_;
  std::unique_ptr<desk::DeskState> state_;
  std::unique_ptr<ui::MessageBoxPresenter> presenter_;
  std::unique_ptr<desk::TfrmDesk> window_;
};

// What Python's email package reads from a message the SMTP server received.
struct ReadBack {
  std::string from, to, cc, subject, messageId, date, inReplyTo, references;
  std::string body;  // the first text part
  struct Attachment {
    std::string name, sha256;
  };
  std::vector<Attachment> attachments;
};
ReadBack ReadWithPython(const std::string& emlPath);
std::string Sha256(const std::string& bytes);

}  // namespace px::journeys
