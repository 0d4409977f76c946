#pragma once
// The message window: viewer of received mail (plain text with its header lines, or HTML in a
// safe web view), editor of text documents and stickers, and composer of new messages, replies
// and forwards. The rules live in ComposeModel; this class shows them and forwards events.
#include "compose/compose_model.h"
#include "foundation/random.h"

#include <QMainWindow>
#include <QUrl>

#include <functional>
#include <memory>
#include <string>

class QAction;
class QCheckBox;
class QComboBox;
class QFontComboBox;
class QFrame;
class QGridLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPrinter;
class QPushButton;
class QStackedWidget;
class QTabWidget;
class QTextEdit;
class QToolBar;

namespace px {
class MessageQueue;
class Settings;
}  // namespace px
namespace px::mailformat {
class HtmlEditCommands;
class TDHTMLEditWrap;
class TextDocumentEditor;
}  // namespace px::mailformat

namespace px::compose::ui {

class MailWebView;

struct EditServices {
  NewMessageList* outbox = nullptr;       // queued records go here (required)
  MessageQueue* messages = nullptr;       // refusals and notices
  RandomSource* random = nullptr;         // required
  std::string tempFolder;                 // the program's temporary folder, ends in "/"
  std::string defaultCharset = "utf-8";   // charset of new messages
  ComposeEnv env;
  QFont textFont;                         // plain-text editor
  QFont htmlFont;                         // HTML editor
  StringList contacts;                    // the address map as entries ("Name <addr>", groups)
  // The known people of the folder the desk shows ("Quick List"); empty: no such tab.
  StringList quickList;
  // Title of a document for the record's subject ("" when none).
  std::function<std::string(const std::string& path)> titleOf;
  std::function<void(const std::string& address)> blockSender;
  // Opens a checked link with the user's browser or mail program.
  std::function<void(const QUrl&)> openUrl;
  // Yes/No(/Cancel) questions; by default a message box. Returns QMessageBox::StandardButton.
  std::function<int(const QString& text, bool withCancel)> ask;
  // "Add to Contacts..." on an address field: offers the field's addresses to the contacts.
  std::function<void(const std::string& addresses, QWidget* parent)> addToContacts;
  // Send Now asks first why the message could not go ("" when it can); a reason is shown and
  // the window stays open.
  std::function<std::string(const std::string& from, const std::string& recipients)> sendRefusal;
  // Opens a part of the viewed message in its program; by default the system's handler.
  std::function<void(const std::string& path)> openAttachment;
  // Asks where to save a part ("" = cancelled); by default a file dialog.
  std::function<QString(const QString& proposedPath)> askSaveFile;
};

class TfrmEdit : public QMainWindow {
  Q_OBJECT
public:
  explicit TfrmEdit(EditServices services, QWidget* parent = nullptr);
  ~TfrmEdit() override;

  // Prepares the window for the document; with a hidden option it queues the message and
  // closes without being shown. Returns false when the document could not be read.
  bool Open(const OpenRequest& request);

  int Mode() const { return mode_; }
  ComposeModel& model() { return model_; }
  bool Queued() const { return queued_; }
  bool ComposeHeaderShown() const;
  bool RemoteContentBarShown() const;

  // Mail toolbar and bottom buttons.
  void Reply(bool all);
  void Forward();
  void SendAsEmail();
  void QueueMessage(ComposeModel::QueueKind kind);
  // Saves the document the window shows (false, with the failure told, when it could not be).
  bool SaveDocument();
  void Block();
  void AllowRemoteContent();
  // The message's other parts in the header panel: Open, and "Save as..." anywhere on disk.
  void OpenAttachment(const std::string& path);
  bool SaveAttachmentAs(const std::string& path);
  // The shown name of a part: its own name (its title with the file's extension).
  QString AttachmentName(const std::string& path) const;
  // Switches a message being written between plain text and HTML, converting the body.
  void SetHtmlFormat(bool html);
  // Prints the message (text modes wrapped at 76 columns with its header lines).
  void PrintTo(QPrinter& printer, bool selectionOnly = false);
  bool ExportPdf(const QString& file);
  // Adds files as attachments (the Attach button, drops).
  // The desk's quick list changed (the shown folder was read again): the tab follows.
  void SetQuickList(const StringList& entries);
  void AttachFiles(const QStringList& files);
  // Runs a clicked link through the link check.
  void OpenLink(const QUrl& url, const QString& shownText);
  // Find in the text; false when nothing more was found.
  bool FindText(const QString& text, bool backwards = false);
  void ChooseCharset(const std::string& charset);

  // Controls (named after their role).
  QPlainTextEdit* txtText() const { return txtText_; }
  QTextEdit* htmlEdit() const { return htmlEdit_; }
  MailWebView* webView() const { return webView_; }
  QComboBox* cbFrom() const { return cbFrom_; }
  QLineEdit* edtTo() const { return edtTo_; }
  QLineEdit* edtCc() const { return edtCc_; }
  QLineEdit* edtBcc() const { return edtBcc_; }
  QLineEdit* edtSubject() const { return edtSubject_; }
  QListWidget* lstAttach() const { return lstAttach_; }
  QCheckBox* chkEncrypt() const { return chkEncrypt_; }
  QPushButton* btnSendNow() const { return btnSendNow_; }
  QPushButton* btnSendLater() const { return btnSendLater_; }
  QPushButton* btnSaveDraft() const { return btnSaveDraft_; }
  QPushButton* btnSave() const { return btnSave_; }
  QPushButton* btnClose() const { return btnClose_; }
  QPushButton* btnCancel() const { return btnCancel_; }
  QFrame* pnlInfo() const { return pnlInfo_; }
  QToolBar* tbMail() const { return tbMail_; }
  QToolBar* tbFormat() const { return tbFormat_; }
  QAction* action(const QString& name) const;
  mailformat::TDHTMLEditWrap* HtmlWrap() const { return wrap_.get(); }
  // The text was changed since it was opened or last saved.
  bool textModified() const;

signals:
  void QueuedMessage();
  void WindowClosed(TfrmEdit* window);
  void DeleteRequested(const QString& path);
  void CharsetChanged(const QString& path, const QString& charset);

protected:
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  void BuildWindow();
  void BuildToolbars();
  void BuildComposeHeader();
  void setMode(int mode);
  void ShowInfo(const StringList& headerLines);
  QWidget* AttachmentButtons(QWidget* parent);
  void SyncFontControls();
  void ShowComposeHeader();
  void ApplyPlan(const BodyPlan& plan);
  void LoadBody();
  ViewedText viewedText();
  void SyncModel();
  void UpdateSendButtons();
  void EncryptToggled(bool on);
  // Checks "Encrypt message" when a recipient's contact asks for it.
  void CheckAlwaysEncrypt();
  bool TextEmpty() const;
  std::string bodyText() const;
  void FillContacts();
  void FillList(QListWidget* list, const StringList& entries);
  void ContactChecked(const QString& entry, bool on);
  void BuildEncodingMenu();
  int AskUser(const QString& text, bool withCancel);

  EditServices svc_;
  ComposeModel model_;
  int mode_ = emTextEditor;
  bool queued_ = false;
  bool hidden_ = false;
  bool closingChecked_ = false;
  bool inClose_ = false;
  bool documentReleased_ = false;
  std::string openedCharset_;

  QWidget* central_ = nullptr;
  QFrame* pnlInfo_ = nullptr;
  QGridLayout* infoGrid_ = nullptr;
  QFrame* pnlRemote_ = nullptr;
  QFrame* pnlHeader_ = nullptr;
  QFrame* pnlFind_ = nullptr;
  QLineEdit* edtFind_ = nullptr;
  QComboBox* cbFrom_ = nullptr;
  QLineEdit* edtTo_ = nullptr;
  QLineEdit* edtCc_ = nullptr;
  QLineEdit* edtBcc_ = nullptr;
  QLineEdit* edtSubject_ = nullptr;
  QLabel* lblTo_ = nullptr;
  QLabel* lblCc_ = nullptr;
  QLabel* lblBcc_ = nullptr;
  QLineEdit* servedField_ = nullptr;
  QListWidget* lstAttach_ = nullptr;
  QPushButton* btnAttach_ = nullptr;
  QCheckBox* chkEncrypt_ = nullptr;
  QTabWidget* tabContacts_ = nullptr;
  QListWidget* lstContacts_ = nullptr;
  QListWidget* lstQuick_ = nullptr;
  QStackedWidget* stkBody_ = nullptr;
  QPlainTextEdit* txtText_ = nullptr;
  QTextEdit* htmlEdit_ = nullptr;
  MailWebView* webView_ = nullptr;
  QToolBar* tbMail_ = nullptr;
  QToolBar* tbFormat_ = nullptr;
  QMenu* mnuEncoding_ = nullptr;
  QFontComboBox* cbFont_ = nullptr;
  QComboBox* cbSize_ = nullptr;
  QComboBox* cbStyle_ = nullptr;
  QPushButton* btnSave_ = nullptr;
  QPushButton* btnClear_ = nullptr;
  QPushButton* btnCancel_ = nullptr;
  QPushButton* btnClose_ = nullptr;
  QPushButton* btnSaveDraft_ = nullptr;
  QPushButton* btnSendNow_ = nullptr;
  QPushButton* btnSendLater_ = nullptr;

  std::unique_ptr<mailformat::TextDocumentEditor> htmlEditor_;
  std::unique_ptr<mailformat::TDHTMLEditWrap> wrap_;
  std::unique_ptr<mailformat::HtmlEditCommands> commands_;
  StringList pageText_;
  bool pageRich_ = false;
  bool viewedHtml_ = false;
  bool textChanged_ = false;
};

}  // namespace px::compose::ui
