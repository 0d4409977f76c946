#include "compose/ui/frm_edit.h"

#include "compose/link_check.h"
#include "compose/message_view.h"
#include "compose/ui/mail_web_view.h"
#include "foundation/atomic_file.h"
#include "foundation/charset.h"
#include "foundation/dates.h"
#include "foundation/message_queue.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "mailformat/codecs.h"
#include "mailformat/text_extract.h"
#include "mailformat/ui/html_edit_commands.h"
#include "mailformat/ui/text_document_editor.h"
#include "store/doc_record.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QColorDialog>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyle>
#include <QSyntaxHighlighter>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace px::compose::ui {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// Quoted lines in bold navy, links underlined in blue (the plain-text editor of the viewer and
// the text composer).
class QuoteLinkHighlighter : public QSyntaxHighlighter {
public:
  QuoteLinkHighlighter(QTextDocument* doc) : QSyntaxHighlighter(doc) {}

protected:
  void highlightBlock(const QString& text) override {
    const std::string line = S(text);
    if (IsQuotedLine(line)) {
      QTextCharFormat quote;
      quote.setFontWeight(QFont::Bold);
      quote.setForeground(QColor(0, 0, 128));
      setFormat(0, static_cast<int>(text.size()), quote);
      return;
    }
    QTextCharFormat link;
    link.setFontUnderline(true);
    link.setForeground(Qt::blue);
    for (const TextLink& l : FindTextLinks(line))
      setFormat(static_cast<int>(l.start), static_cast<int>(l.length), link);
  }
};

std::string WriteScratch(const std::string& folder, RandomSource& random, const std::string& ext,
                         const std::string& bytes) {
  const std::string name =
      PlaceNewFile(folder, bytes, [&](int) { return "PX" + NewUniqueId(random) + ext; }, nullptr);
  return name.empty() ? std::string() : folder + name;
}

QPushButton* MakeButton(const QString& text, QWidget* parent, QHBoxLayout* row) {
  auto* b = new QPushButton(text, parent);
  row->addWidget(b);
  return b;
}

}  // namespace

TfrmEdit::TfrmEdit(EditServices services, QWidget* parent)
    : QMainWindow(parent), svc_(std::move(services)), model_(svc_.env) {
  setAttribute(Qt::WA_DeleteOnClose);
  setAcceptDrops(true);
  BuildWindow();
  installEventFilter(this);
  resize(880, 620);
}

TfrmEdit::~TfrmEdit() = default;

QAction* TfrmEdit::action(const QString& name) const { return findChild<QAction*>(name); }

void TfrmEdit::BuildWindow() {
  central_ = new QWidget(this);
  auto* v = new QVBoxLayout(central_);
  v->setContentsMargins(4, 4, 4, 4);

  pnlInfo_ = new QFrame(central_);
  pnlInfo_->setObjectName(QStringLiteral("pnlInfo"));
  pnlInfo_->setFrameShape(QFrame::StyledPanel);
  infoGrid_ = new QGridLayout(pnlInfo_);
  infoGrid_->setContentsMargins(6, 4, 6, 4);
  infoGrid_->setVerticalSpacing(1);
  v->addWidget(pnlInfo_);

  pnlRemote_ = new QFrame(central_);
  pnlRemote_->setObjectName(QStringLiteral("pnlRemote"));
  pnlRemote_->setStyleSheet(QStringLiteral("QFrame#pnlRemote { background: #fff6bf; }"));
  auto* remoteRow = new QHBoxLayout(pnlRemote_);
  remoteRow->setContentsMargins(6, 2, 6, 2);
  remoteRow->addWidget(new QLabel(
      QStringLiteral("Pictures and other content from the Internet are not shown in this message."), pnlRemote_));
  auto* btnRemote = new QPushButton(QStringLiteral("Show Remote Content"), pnlRemote_);
  btnRemote->setObjectName(QStringLiteral("btnRemote"));
  remoteRow->addStretch();
  remoteRow->addWidget(btnRemote);
  connect(btnRemote, &QPushButton::clicked, this, &TfrmEdit::AllowRemoteContent);
  pnlRemote_->hide();
  v->addWidget(pnlRemote_);

  BuildComposeHeader();
  v->addWidget(pnlHeader_);

  stkBody_ = new QStackedWidget(central_);
  txtText_ = new QPlainTextEdit(stkBody_);
  txtText_->setObjectName(QStringLiteral("txtText"));
  txtText_->setFont(svc_.textFont);
  txtText_->viewport()->setMouseTracking(true);
  txtText_->viewport()->installEventFilter(this);
  new QuoteLinkHighlighter(txtText_->document());
  htmlEdit_ = new QTextEdit(stkBody_);
  htmlEdit_->setObjectName(QStringLiteral("htmlEdit"));
  htmlEdit_->document()->setDefaultFont(svc_.htmlFont);
  htmlEdit_->viewport()->installEventFilter(this);
  // Drops reach the nearest widget that takes them: the edits, or the window itself.
  txtText_->installEventFilter(this);
  htmlEdit_->installEventFilter(this);
  htmlEditor_ = std::make_unique<mailformat::TextDocumentEditor>(htmlEdit_);
  wrap_ = std::make_unique<mailformat::TDHTMLEditWrap>(*htmlEditor_, svc_.tempFolder, *svc_.random);
  commands_ = std::make_unique<mailformat::HtmlEditCommands>(htmlEdit_, wrap_.get());
  new mailformat::HtmlEditKeys(htmlEdit_);
  webView_ = new MailWebView(stkBody_);
  webView_->setObjectName(QStringLiteral("webView"));
  stkBody_->addWidget(txtText_);
  stkBody_->addWidget(htmlEdit_);
  stkBody_->addWidget(webView_);
  v->addWidget(stkBody_, 1);
  connect(webView_, &MailWebView::RemoteContentBlocked, this, [this] {
    if (mode_ == emHtmlViewer) pnlRemote_->show();
  });
  connect(webView_, &MailWebView::LinkClicked, this, &TfrmEdit::OpenLink);
  connect(txtText_, &QPlainTextEdit::textChanged, this, [this] { textChanged_ = true; });
  connect(htmlEdit_, &QTextEdit::textChanged, this, [this] { textChanged_ = true; });

  pnlFind_ = new QFrame(central_);
  auto* findRow = new QHBoxLayout(pnlFind_);
  findRow->setContentsMargins(0, 0, 0, 0);
  findRow->addWidget(new QLabel(QStringLiteral("Find:"), pnlFind_));
  edtFind_ = new QLineEdit(pnlFind_);
  edtFind_->setObjectName(QStringLiteral("edtFind"));
  findRow->addWidget(edtFind_, 1);
  auto* btnNext = new QPushButton(QStringLiteral("Next"), pnlFind_);
  auto* btnPrev = new QPushButton(QStringLiteral("Previous"), pnlFind_);
  findRow->addWidget(btnNext);
  findRow->addWidget(btnPrev);
  connect(edtFind_, &QLineEdit::returnPressed, this, [this] { FindText(edtFind_->text()); });
  connect(btnNext, &QPushButton::clicked, this, [this] { FindText(edtFind_->text()); });
  connect(btnPrev, &QPushButton::clicked, this, [this] { FindText(edtFind_->text(), true); });
  pnlFind_->hide();
  v->addWidget(pnlFind_);

  auto* bottom = new QHBoxLayout();
  bottom->addStretch();
  btnSave_ = MakeButton(QStringLiteral("Save"), central_, bottom);
  btnClear_ = MakeButton(QStringLiteral("Clear"), central_, bottom);
  btnSaveDraft_ = MakeButton(QStringLiteral("Save Draft"), central_, bottom);
  btnSendLater_ = MakeButton(QStringLiteral("Send Later"), central_, bottom);
  btnSendNow_ = MakeButton(QStringLiteral("Send Now"), central_, bottom);
  btnCancel_ = MakeButton(QStringLiteral("Cancel"), central_, bottom);
  btnClose_ = MakeButton(QStringLiteral("Close"), central_, bottom);
  btnSave_->setObjectName(QStringLiteral("btnSave"));
  btnSaveDraft_->setObjectName(QStringLiteral("btnSaveDraft"));
  btnSendLater_->setObjectName(QStringLiteral("btnSendLater"));
  btnSendNow_->setObjectName(QStringLiteral("btnSendNow"));
  v->addLayout(bottom);
  connect(btnSave_, &QPushButton::clicked, this, [this] {
    if (!SaveDocument()) return;  // the window stays open with its changes
    closingChecked_ = true;
    close();
  });
  connect(btnClear_, &QPushButton::clicked, this, [this] { txtText_->clear(); });
  connect(btnSaveDraft_, &QPushButton::clicked, this, [this] { QueueMessage(ComposeModel::QueueKind::Draft); });
  connect(btnSendLater_, &QPushButton::clicked, this, [this] { QueueMessage(ComposeModel::QueueKind::Later); });
  connect(btnSendNow_, &QPushButton::clicked, this, [this] { QueueMessage(ComposeModel::QueueKind::Now); });
  connect(btnCancel_, &QPushButton::clicked, this, &QWidget::close);
  connect(btnClose_, &QPushButton::clicked, this, &QWidget::close);

  setCentralWidget(central_);
  BuildToolbars();
  pnlHeader_->hide();
}

void TfrmEdit::BuildComposeHeader() {
  pnlHeader_ = new QFrame(central_);
  pnlHeader_->setObjectName(QStringLiteral("pnlHeader"));
  auto* row = new QHBoxLayout(pnlHeader_);
  row->setContentsMargins(0, 0, 0, 0);
  auto* grid = new QGridLayout();
  auto label = [&](const QString& t, int r) {
    auto* l = new QLabel(t, pnlHeader_);
    grid->addWidget(l, r, 0);
    return l;
  };
  label(QStringLiteral("From:"), 0);
  cbFrom_ = new QComboBox(pnlHeader_);
  cbFrom_->setObjectName(QStringLiteral("cbFrom"));
  cbFrom_->setEditable(true);
  grid->addWidget(cbFrom_, 0, 1, 1, 2);
  lblTo_ = label(QStringLiteral("To:"), 1);
  edtTo_ = new QLineEdit(pnlHeader_);
  edtTo_->setObjectName(QStringLiteral("edtTo"));
  grid->addWidget(edtTo_, 1, 1, 1, 2);
  lblCc_ = label(QStringLiteral("Cc:"), 2);
  edtCc_ = new QLineEdit(pnlHeader_);
  edtCc_->setObjectName(QStringLiteral("edtCc"));
  grid->addWidget(edtCc_, 2, 1, 1, 2);
  lblBcc_ = label(QStringLiteral("Bcc:"), 3);
  edtBcc_ = new QLineEdit(pnlHeader_);
  edtBcc_->setObjectName(QStringLiteral("edtBcc"));
  grid->addWidget(edtBcc_, 3, 1, 1, 2);
  // The address fields offer their addresses to the contacts.
  for (QLineEdit* field : {edtTo_, edtCc_, edtBcc_}) {
    field->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(field, &QWidget::customContextMenuRequested, this, [this, field](const QPoint& pos) {
      std::unique_ptr<QMenu> menu(field->createStandardContextMenu());
      if (svc_.addToContacts) {
        menu->addSeparator();
        QAction* add = menu->addAction(QStringLiteral("Add to Contacts..."));
        add->setEnabled(!field->text().trimmed().isEmpty());
        connect(add, &QAction::triggered, this, [this, field] { svc_.addToContacts(S(field->text()), this); });
      }
      menu->exec(field->mapToGlobal(pos));
    });
  }
  label(QStringLiteral("Subject:"), 4);
  edtSubject_ = new QLineEdit(pnlHeader_);
  edtSubject_->setObjectName(QStringLiteral("edtSubject"));
  grid->addWidget(edtSubject_, 4, 1, 1, 2);
  btnAttach_ = new QPushButton(QStringLiteral("Attach..."), pnlHeader_);
  btnAttach_->setObjectName(QStringLiteral("btnAttach"));
  grid->addWidget(btnAttach_, 5, 0);
  lstAttach_ = new QListWidget(pnlHeader_);
  lstAttach_->setObjectName(QStringLiteral("lstAttach"));
  lstAttach_->setFlow(QListView::LeftToRight);
  lstAttach_->setWrapping(true);
  lstAttach_->setMaximumHeight(48);
  lstAttach_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lstAttach_->installEventFilter(this);
  grid->addWidget(lstAttach_, 5, 1);
  chkEncrypt_ = new QCheckBox(QStringLiteral("Encrypt message"), pnlHeader_);
  chkEncrypt_->setObjectName(QStringLiteral("chkEncrypt"));
  grid->addWidget(chkEncrypt_, 5, 2);
  row->addLayout(grid, 3);

  tabContacts_ = new QTabWidget(pnlHeader_);
  lstContacts_ = new QListWidget(tabContacts_);
  lstContacts_->setObjectName(QStringLiteral("lstContacts"));
  lstQuick_ = new QListWidget(tabContacts_);
  lstQuick_->setObjectName(QStringLiteral("lstQuick"));
  tabContacts_->addTab(lstQuick_, QStringLiteral("Quick List"));
  tabContacts_->addTab(lstContacts_, QStringLiteral("All Contacts"));
  tabContacts_->setMaximumWidth(260);
  row->addWidget(tabContacts_, 1);

  servedField_ = edtTo_;
  for (QLineEdit* e : {edtTo_, edtCc_, edtBcc_}) {
    e->installEventFilter(this);
    connect(e, &QLineEdit::textEdited, this, [this] {
      model_.headerChanged = true;
      SyncModel();
      UpdateSendButtons();
      if (chkEncrypt_->isChecked()) EncryptToggled(false);
      else CheckAlwaysEncrypt();
    });
  }
  connect(edtSubject_, &QLineEdit::textEdited, this, [this] { model_.headerChanged = true; });
  connect(edtSubject_, &QLineEdit::editingFinished, this, [this] {
    if (!model_.composing) return;
    std::string folder = model_.Request().path.substr(0, model_.Request().path.rfind('/'));
    folder = folder.substr(folder.rfind('/') + 1);
    setWindowTitle(edtSubject_->text() + QStringLiteral(" [") + Q(folder) + QStringLiteral("]"));
  });
  connect(cbFrom_, &QComboBox::currentTextChanged, this, [this] { model_.headerChanged = true; });
  connect(btnAttach_, &QPushButton::clicked, this, [this] {
    AttachFiles(QFileDialog::getOpenFileNames(this, QStringLiteral("Attach File")));
  });
  connect(chkEncrypt_, &QCheckBox::clicked, this, [this](bool on) {
    if (on) EncryptToggled(true);
    model_.headerChanged = true;
  });
  for (QListWidget* list : {lstContacts_, lstQuick_})
    connect(list, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
      ContactChecked(item->text(), item->checkState() == Qt::Checked);
    });
}

void TfrmEdit::BuildToolbars() {
  tbMail_ = addToolBar(QStringLiteral("Mail"));
  tbMail_->setObjectName(QStringLiteral("tbMail"));
  tbMail_->setMovable(false);
  auto mailAction = [&](const QString& name, const QString& text, auto fn) {
    QAction* a = tbMail_->addAction(text);
    a->setObjectName(name);
    connect(a, &QAction::triggered, this, fn);
    return a;
  };
  mailAction(QStringLiteral("aReply"), QStringLiteral("Reply"), [this] { Reply(false); })
      ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  mailAction(QStringLiteral("aReplyAll"), QStringLiteral("Reply To All"), [this] { Reply(true); })
      ->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
  mailAction(QStringLiteral("aForward"), QStringLiteral("Forward"), [this] { Forward(); })
      ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
  mailAction(QStringLiteral("aSendAsEmail"), QStringLiteral("Send as E-mail"), [this] { SendAsEmail(); });
  mailAction(QStringLiteral("aBlock"), QStringLiteral(" Block "), [this] { Block(); });
  mailAction(QStringLiteral("aCopy"), QStringLiteral(" Copy "), [this] {
    if (mode_ == emHtmlViewer) webView_->triggerPageAction(QWebEnginePage::Copy);
    else if (mode_ == emHtmlEditor) htmlEdit_->copy();
    else txtText_->copy();
  });
  QAction* enc = mailAction(QStringLiteral("aEncoding"), QStringLiteral(" Encoding "), [] {});
  mnuEncoding_ = new QMenu(this);
  enc->setMenu(mnuEncoding_);
  if (auto* b = qobject_cast<QToolButton*>(tbMail_->widgetForAction(enc))) b->setPopupMode(QToolButton::InstantPopup);
  BuildEncodingMenu();
  mailAction(QStringLiteral("aDelete"), QStringLiteral("Delete"), [this] {
    emit DeleteRequested(Q(model_.Request().path));
    closingChecked_ = true;
    close();
  });
  QAction* print = mailAction(QStringLiteral("aPrint"), QStringLiteral("Print..."), [this] {
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dlg(&printer, this);
    if (mode_ == emTextViewer || mode_ == emTextEditor)
      dlg.setOption(QAbstractPrintDialog::PrintSelection, txtText_->textCursor().hasSelection());
    if (dlg.exec() == QDialog::Accepted) PrintTo(printer, dlg.printRange() == QAbstractPrintDialog::Selection);
  });
  print->setShortcut(QKeySequence::Print);
  mailAction(QStringLiteral("aExportPdf"), QStringLiteral("PDF..."), [this] {
    const QString f = QFileDialog::getSaveFileName(this, QStringLiteral("Save as PDF"), windowTitle() + QStringLiteral(".pdf"),
                                                   QStringLiteral("PDF files (*.pdf)"));
    if (!f.isEmpty()) ExportPdf(f);
  });
  QAction* find = new QAction(QStringLiteral("Find"), this);
  find->setObjectName(QStringLiteral("aFind"));
  find->setShortcut(QKeySequence::Find);
  addAction(find);
  connect(find, &QAction::triggered, this, [this] {
    pnlFind_->show();
    edtFind_->setFocus();
    edtFind_->selectAll();
  });

  addToolBarBreak();
  tbFormat_ = addToolBar(QStringLiteral("Format"));
  tbFormat_->setObjectName(QStringLiteral("tbFormat"));
  tbFormat_->setMovable(false);
  auto fmt = [&](const QString& name, const QString& text, int tag, auto fn) {
    QAction* a = tbFormat_->addAction(text);
    a->setObjectName(name);
    a->setProperty("tag", tag);
    connect(a, &QAction::triggered, this, fn);
    return a;
  };
  // First, so that it never hides behind the toolbar's overflow.
  QAction* format = fmt(QStringLiteral("aHtmlFormat"), QStringLiteral("HTML"), kTagEditing, [this](bool on) {
    SetHtmlFormat(on);
  });
  format->setCheckable(true);
  format->setToolTip(QStringLiteral("Write this message in HTML (off: plain text)"));
  format->setVisible(false);
  auto current = [this]() -> QWidget* { return mode_ == emHtmlEditor ? static_cast<QWidget*>(htmlEdit_) : txtText_; };
  fmt(QStringLiteral("aCut"), QStringLiteral("Cut"), kTagEditing, [this] {
    mode_ == emHtmlEditor ? htmlEdit_->cut() : txtText_->cut();
  });
  fmt(QStringLiteral("aCopyText"), QStringLiteral("Copy"), kTagAnyMode, [this] {
    mode_ == emHtmlEditor ? htmlEdit_->copy() : txtText_->copy();
  });
  fmt(QStringLiteral("aPaste"), QStringLiteral("Paste"), kTagEditing, [this] {
    mode_ == emHtmlEditor ? htmlEdit_->paste() : txtText_->paste();
  });
  QAction* undo = fmt(QStringLiteral("aUndo"), QStringLiteral("Undo"), kTagEditing, [this] {
    mode_ == emHtmlEditor ? htmlEdit_->undo() : txtText_->undo();
  });
  undo->setShortcut(QKeySequence::Undo);
  QAction* redo = fmt(QStringLiteral("aRedo"), QStringLiteral("Redo"), kTagEditing, [this] {
    mode_ == emHtmlEditor ? htmlEdit_->redo() : txtText_->redo();
  });
  redo->setShortcut(QKeySequence::Redo);
  (void)current;
  tbFormat_->addSeparator();
  cbStyle_ = new QComboBox(tbFormat_);
  cbStyle_->addItems(mailformat::HtmlEditCommands::ParagraphFormatNames());
  cbStyle_->setProperty("tag", kTagHtmlOnly);
  tbFormat_->addWidget(cbStyle_)->setProperty("tag", kTagHtmlOnly);
  connect(cbStyle_, &QComboBox::textActivated, this, [this](const QString& s) { commands_->SetParagraphFormat(s); });
  cbFont_ = new QFontComboBox(tbFormat_);
  cbFont_->setObjectName(QStringLiteral("cbFont"));
  cbFont_->setMaximumWidth(170);
  tbFormat_->addWidget(cbFont_)->setProperty("tag", kTagHtmlOnly);
  connect(cbFont_, &QFontComboBox::currentFontChanged, this, [this](const QFont& f) {
    if (mode_ == emHtmlEditor) commands_->SetFontName(f.family());
  });
  cbSize_ = new QComboBox(tbFormat_);
  cbSize_->setObjectName(QStringLiteral("cbSize"));
  for (int s : {8, 9, 10, 11, 12, 14, 16, 18, 20, 24, 28, 36}) cbSize_->addItem(QString::number(s));
  tbFormat_->addWidget(cbSize_)->setProperty("tag", kTagHtmlOnly);
  connect(cbSize_, &QComboBox::textActivated, this, [this](const QString& s) { commands_->SetFontSize(s.toInt()); });
  // Ctrl+B, Ctrl+I, Ctrl+U while the HTML editor (or the toolbar) has the focus; in an address
  // field the keys stay the field's.
  auto charKey = [&](const QString& name, const QString& text, QKeySequence::StandardKey key, auto fn) {
    QAction* a = fmt(name, text, kTagHtmlOnly, fn);
    a->setShortcut(key);
    a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    htmlEdit_->addAction(a);
    return a;
  };
  charKey(QStringLiteral("aBold"), QStringLiteral("B"), QKeySequence::Bold, [this] { commands_->Bold(); });
  charKey(QStringLiteral("aItalic"), QStringLiteral("I"), QKeySequence::Italic, [this] { commands_->Italic(); });
  charKey(QStringLiteral("aUnderline"), QStringLiteral("U"), QKeySequence::Underline, [this] { commands_->Underline(); });
  fmt(QStringLiteral("aTextColour"), QStringLiteral("Colour"), kTagHtmlOnly, [this] {
    const QColor c = QColorDialog::getColor(commands_->TextColour(), this);
    if (c.isValid()) commands_->SetTextColour(c);
  });
  fmt(QStringLiteral("aAlignLeft"), QStringLiteral("Left"), kTagHtmlOnly,
      [this] { commands_->SetAlignment(mailformat::HtmlEditCommands::Align::Left); });
  fmt(QStringLiteral("aAlignCentre"), QStringLiteral("Centre"), kTagHtmlOnly,
      [this] { commands_->SetAlignment(mailformat::HtmlEditCommands::Align::Centre); });
  fmt(QStringLiteral("aAlignRight"), QStringLiteral("Right"), kTagHtmlOnly,
      [this] { commands_->SetAlignment(mailformat::HtmlEditCommands::Align::Right); });
  fmt(QStringLiteral("aIndent"), QStringLiteral("Indent"), kTagHtmlOnly, [this] { commands_->Indent(); });
  fmt(QStringLiteral("aOutdent"), QStringLiteral("Outdent"), kTagHtmlOnly, [this] { commands_->Outdent(); });
  fmt(QStringLiteral("aBackground"), QStringLiteral("Background"), kTagHtmlOnly, [this] {
    const QColor c = QColorDialog::getColor(commands_->BodyColour(), this);
    if (c.isValid()) commands_->SetBodyColour(c);
  });
  fmt(QStringLiteral("aRule"), QStringLiteral("Line"), kTagHtmlOnly, [this] { htmlEditor_->PasteHtml("<HR>"); });
  fmt(QStringLiteral("aImage"), QStringLiteral("Picture..."), kTagHtmlOnly, [this] {
    const QString f = QFileDialog::getOpenFileName(this, QStringLiteral("Insert Picture"), {},
                                                   QStringLiteral("Pictures (*.png *.jpg *.jpeg *.gif *.bmp)"));
    if (!f.isEmpty()) commands_->InsertImage(f);
  });
  fmt(QStringLiteral("aLink"), QStringLiteral("Link..."), kTagHtmlOnly, [this] {
    bool ok = false;
    const QString url = QInputDialog::getText(this, QStringLiteral("Hyperlink"), QStringLiteral("Address:"),
                                              QLineEdit::Normal, QStringLiteral("https://"), &ok);
    if (ok && !url.trimmed().isEmpty()) commands_->SetHyperlink(url.trimmed());
  });
  // The size and font lists show what the caret stands in.
  connect(htmlEdit_, &QTextEdit::currentCharFormatChanged, this, [this] { SyncFontControls(); });
}

void TfrmEdit::SyncFontControls() {
  if (mode_ != emHtmlEditor) return;
  QSignalBlocker b1(cbSize_), b2(cbFont_);
  const QString size = QString::number(commands_->FontSize());
  int i = cbSize_->findText(size);
  if (i < 0) {
    int at = 0;
    while (at < cbSize_->count() && cbSize_->itemText(at).toInt() < size.toInt()) ++at;
    cbSize_->insertItem(at, size);
    i = at;
  }
  cbSize_->setCurrentIndex(i);
  cbFont_->setCurrentFont(QFont(commands_->FontName()));
}

void TfrmEdit::BuildEncodingMenu() {
  auto* group = new QActionGroup(mnuEncoding_);
  int family = -1;
  for (const CharsetRow& row : CharsetRows()) {
    if (family != -1 && row.familyCodePage != family) mnuEncoding_->addSeparator();
    family = row.familyCodePage;
    QAction* a = mnuEncoding_->addAction(Q(row.description));
    a->setCheckable(true);
    a->setData(Q(row.webCharset));
    a->setProperty("unicode", row.codePage == kCodePageUtf16LE || row.codePage == kCodePageUtf16BE);
    group->addAction(a);
    connect(a, &QAction::triggered, this, [this, a] { ChooseCharset(S(a->data().toString())); });
  }
}

void TfrmEdit::setMode(int mode) {
  mode_ = mode;
  const ModeButtons b = ButtonsForMode(mode, ComposeHeaderShown());
  btnCancel_->setVisible(b.cancel);
  btnSave_->setVisible(b.save);
  btnClose_->setVisible(b.close);
  if (QAction* e = action(QStringLiteral("aEncoding"))) e->setVisible(b.encoding && e->isVisible());
  tbFormat_->setVisible(b.formatBar);
  for (QAction* a : tbFormat_->actions())
    a->setEnabled(ControlEnabled(a->property("tag").toInt(), mode));
  for (QAction* a : mnuEncoding_->actions())
    if (a->property("unicode").toBool()) a->setVisible(mode == emHtmlEditor);
  txtText_->setReadOnly(mode == emTextViewer);
  stkBody_->setCurrentWidget(mode == emHtmlViewer ? static_cast<QWidget*>(webView_)
                             : mode == emHtmlEditor ? static_cast<QWidget*>(htmlEdit_)
                                                    : txtText_);
  if (mode != emHtmlViewer) pnlRemote_->hide();
  if (QAction* f = action(QStringLiteral("aHtmlFormat"))) {
    QSignalBlocker block(f);
    f->setChecked(mode == emHtmlEditor);
    f->setVisible(ComposeHeaderShown() && (mode == emTextEditor || mode == emHtmlEditor));
  }
  SyncFontControls();
}

bool TfrmEdit::ComposeHeaderShown() const { return pnlHeader_ && !pnlHeader_->isHidden(); }
bool TfrmEdit::RemoteContentBarShown() const { return pnlRemote_ && !pnlRemote_->isHidden(); }

void TfrmEdit::ShowInfo(const StringList& headerLines) {
  while (QLayoutItem* item = infoGrid_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  int r = 0;
  for (const std::string& line : headerLines) {
    const HeaderLine h = SplitHeaderLine(line);
    auto* l = new QLabel(Q(h.label), pnlInfo_);
    QFont bold = l->font();
    bold.setBold(true);
    l->setFont(bold);
    infoGrid_->addWidget(l, r, 0, Qt::AlignTop | Qt::AlignRight);
    if (h.label == "Attachments:" && !model_.Request().attachments.empty()) {
      infoGrid_->addWidget(AttachmentButtons(pnlInfo_), r, 1);
      ++r;
      continue;
    }
    auto* v = new QLabel(Q(Trim(h.value)), pnlInfo_);
    v->setTextInteractionFlags(Qt::TextSelectableByMouse);
    v->setTextFormat(Qt::PlainText);
    infoGrid_->addWidget(v, r, 1);
    ++r;
  }
  // The lock mark: this message travelled encrypted.
  if (r > 0 && (model_.Request().flags & store::dfEncrypted) && (model_.Request().flags & store::dfMailMask)) {
    auto* box = new QWidget(pnlInfo_);
    box->setObjectName(QStringLiteral("lblEncrypted"));
    auto* h = new QHBoxLayout(box);
    h->setContentsMargins(0, 0, 0, 0);
    auto* icon = new QLabel(box);
    const QIcon lock = QIcon::fromTheme(QStringLiteral("changes-prevent"),
                                        style()->standardIcon(QStyle::SP_MessageBoxInformation));
    icon->setPixmap(lock.pixmap(16, 16));
    h->addWidget(icon);
    h->addWidget(new QLabel(QStringLiteral("Encrypted"), box), 1);
    box->setToolTip(QStringLiteral("The message was encrypted to your key on its way to you."));
    infoGrid_->addWidget(box, r, 1);
    ++r;
  }
  infoGrid_->setColumnStretch(1, 1);
  pnlInfo_->setVisible(r > 0);
}

QWidget* TfrmEdit::AttachmentButtons(QWidget* parent) {
  auto* box = new QWidget(parent);
  box->setObjectName(QStringLiteral("pnlParts"));
  auto* row = new QHBoxLayout(box);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(4);
  for (const std::string& path : model_.Request().attachments) {
    auto* b = new QToolButton(box);
    b->setObjectName(QStringLiteral("btnPart"));
    b->setProperty("path", Q(path));
    b->setText(AttachmentName(path));
    b->setToolTip(QStringLiteral("Open %1 (the arrow offers Save as...)").arg(AttachmentName(path)));
    b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    b->setIcon(style()->standardIcon(QStyle::SP_FileIcon));
    b->setAutoRaise(true);
    b->setPopupMode(QToolButton::MenuButtonPopup);
    auto* menu = new QMenu(b);
    QAction* open = menu->addAction(QStringLiteral("Open"));
    open->setObjectName(QStringLiteral("aPartOpen"));
    QAction* save = menu->addAction(QStringLiteral("Save as..."));
    save->setObjectName(QStringLiteral("aPartSaveAs"));
    connect(open, &QAction::triggered, this, [this, path] { OpenAttachment(path); });
    connect(save, &QAction::triggered, this, [this, path] { SaveAttachmentAs(path); });
    b->setMenu(menu);
    connect(b, &QToolButton::clicked, this, [this, path] { OpenAttachment(path); });
    row->addWidget(b);
  }
  row->addStretch();
  return box;
}

QString TfrmEdit::AttachmentName(const std::string& path) const {
  const std::string file = path.substr(path.rfind('/') + 1);
  const std::string title = svc_.titleOf ? svc_.titleOf(path) : std::string();
  if (Trim(title).empty()) return Q(file);
  const size_t dot = file.rfind('.');
  const std::string ext = dot == std::string::npos || dot == 0 ? std::string() : file.substr(dot);
  QString name = Q(title);
  if (!ext.empty() && !name.endsWith(Q(ext), Qt::CaseInsensitive)) name += Q(ext);
  // A name never leads out of the folder it is saved in.
  name.replace(QLatin1Char('/'), QLatin1Char('_'));
  return name;
}

void TfrmEdit::OpenAttachment(const std::string& path) {
  if (svc_.openAttachment) svc_.openAttachment(path);
  else QDesktopServices::openUrl(QUrl::fromLocalFile(Q(path)));
}

bool TfrmEdit::SaveAttachmentAs(const std::string& path) {
  const QString proposed = QDir::home().absoluteFilePath(AttachmentName(path));
  const QString target = svc_.askSaveFile ? svc_.askSaveFile(proposed)
                                          : QFileDialog::getSaveFileName(this, QStringLiteral("Save as"), proposed);
  if (target.isEmpty()) return false;
  // Copied beside the target first and then put in its place: a failed copy leaves whatever
  // was there (the dialog asked before replacing it).
  const QString temp = target + QStringLiteral(".px-saving");
  QFile::remove(temp);
  bool ok = QFile::copy(Q(path), temp);
  if (ok) {
    QFile::remove(target);
    ok = QFile::rename(temp, target);
  }
  if (!ok) {
    QFile::remove(temp);
    if (svc_.messages)
      svc_.messages->QueueMessage(MessageKind::Error, "Cannot copy " + path + "\rto " + S(target));
  }
  return ok;
}

void TfrmEdit::SetHtmlFormat(bool html) {
  if (!ComposeHeaderShown() || html == (mode_ == emHtmlEditor)) return;
  if (html) {
    wrap_->LoadSource(HtmlOfTextDocument(SplitLines(S(txtText_->toPlainText())), svc_.env.htmlFont, Signature{}));
    htmlEdit_->moveCursor(QTextCursor::Start);
    setMode(emHtmlEditor);
  } else {
    const mailformat::HtmlTextResult text = mailformat::HtmlToText(wrap_->Source(), "UTF-8");
    if (text.rich &&
        AskUser(QStringLiteral("Write this message in plain text? Its pictures and formatting will be lost."), false) !=
            QMessageBox::Yes) {
      setMode(mode_);  // the switch shows HTML again
      return;
    }
    QSignalBlocker block(txtText_);
    txtText_->setPlainText(Q(JoinLines(text.lines, "\n")));
    txtText_->moveCursor(QTextCursor::Start);
    setMode(emTextEditor);
  }
  model_.html = html;
  textChanged_ = true;
}

bool TfrmEdit::Open(const OpenRequest& req) {
  model_.Open(req);
  openedCharset_ = model_.charset;
  hidden_ = req.options & eoHidden;
  const MailActions acts = ActionsForOptions(req.options);
  action(QStringLiteral("aReply"))->setVisible(acts.reply);
  action(QStringLiteral("aReplyAll"))->setVisible(acts.replyAll);
  action(QStringLiteral("aForward"))->setVisible(acts.forward);
  action(QStringLiteral("aSendAsEmail"))->setVisible(acts.sendAsEmail);
  action(QStringLiteral("aBlock"))->setVisible(acts.block);
  action(QStringLiteral("aDelete"))->setVisible(acts.del);
  action(QStringLiteral("aCopy"))->setVisible(acts.copy);
  action(QStringLiteral("aEncoding"))->setVisible(true);
  btnClear_->setVisible(acts.clear);
  btnSaveDraft_->hide();
  btnSendLater_->hide();
  btnSendNow_->hide();
  for (QAction* a : mnuEncoding_->actions())
    if (!a->isSeparator()) a->setChecked(SameText(S(a->data().toString()), model_.charset));

  const bool isFile = QFileInfo(Q(req.path)).isFile();
  const bool html = (req.options & eoHtml) != 0;
  int mode = OpeningMode(req.options, html, !req.headerLines.empty());
  if (!isFile && (req.options & eoStartNew)) mode = html ? emHtmlEditor : emTextEditor;
  viewedHtml_ = html && isFile;
  if (mode == emTextViewer || (mode == emHtmlViewer && !req.headerLines.empty())) ShowInfo(req.headerLines);
  else pnlInfo_->hide();

  if (isFile) {
    if (html) {
      const std::string ext = LowerCase(req.path.substr(req.path.rfind('.') + 1));
      if (mode == emHtmlViewer) {
        const MessagePage page = PrepareMessagePage(req.path, svc_.tempFolder, *svc_.random, req.partContentIds);
        if (!page.ok) {
          if (svc_.messages) svc_.messages->QueueMessage(MessageKind::Error, mailformat::kMhtmlReadError);
          return false;
        }
        pageText_ = page.text;
        pageRich_ = page.rich;
        if (ext == "eml") {
          // A stored message's own text part reads better than text taken from its HTML.
          const mailformat::EmlText t = mailformat::ExtractEmlText(req.path);
          if (t.found) {
            pageText_.clear();
            for (const std::string& l : t.lines) pageText_.push_back(t.charset.empty() ? l : DecodeFromCharset(l, t.charset));
          }
        }
        webView_->ShowMessage(page.html, page.resourceFolder, svc_.tempFolder + "view" + NewUniqueId(*svc_.random) + "/");
      } else {
        if (!wrap_->Load(req.path)) {
          if (svc_.messages) svc_.messages->QueueMessage(MessageKind::Error, wrap_->LastError());
          return false;
        }
        pageText_ = SplitLines(wrap_->Text());
        pageRich_ = mailformat::HtmlToText(wrap_->Source(), "UTF-8").rich;
      }
    } else {
      QSignalBlocker block(txtText_);
      txtText_->setPlainText(Q(JoinLines(ReadTextDocument(req.path, model_.charset), "\n")));
      txtText_->document()->setModified(false);
    }
  }
  setMode(mode);
  textChanged_ = false;
  setWindowTitle(Q(model_.windowTitle.empty() ? req.path.substr(req.path.rfind('/') + 1) : model_.windowTitle));

  switch (StartActionOf(req.options)) {
    case StartAction::Reply: Reply(false); break;
    case StartAction::ReplyAll: Reply(true); break;
    case StartAction::Forward: Forward(); break;
    case StartAction::SendAsEmail: SendAsEmail(); break;
    case StartAction::None: break;
  }
  if (hidden_) {
    if (req.options & eoHiddenAttach) AttachFiles({});
    const bool draft = req.flags & store::dfDraft;
    QueueMessage(draft ? ComposeModel::QueueKind::Draft : ComposeModel::QueueKind::Later);
    return true;
  }
  if (model_.composing) {
    if (CaretPlaceOf(req.options, S(edtTo_->text()), S(edtSubject_->text())) == CaretPlace::Subject)
      edtSubject_->setFocus();
    else if (mode_ == emHtmlEditor) htmlEdit_->setFocus();
    else txtText_->setFocus();
  }
  return true;
}

ViewedText TfrmEdit::viewedText() {
  ViewedText v;
  v.html = viewedHtml_;
  v.eml = LowerCase(model_.Request().path).ends_with(".eml");
  v.rich = pageRich_;
  if (viewedHtml_) v.lines = pageText_;
  else v.lines = SplitLines(S(txtText_->toPlainText()));
  return v;
}

void TfrmEdit::ShowComposeHeader() {
  pnlInfo_->hide();
  tbMail_->hide();
  pnlHeader_->show();
  btnSave_->hide();
  btnClear_->hide();
  btnSaveDraft_->show();
  btnSendLater_->show();
  btnSendNow_->show();
  chkEncrypt_->setVisible(svc_.env.encryptionAvailable);
  {
    QSignalBlocker b1(cbFrom_), b2(edtTo_), b3(edtCc_), b4(edtBcc_), b5(edtSubject_);
    cbFrom_->clear();
    for (const std::string& s : SenderChoices(svc_.env)) cbFrom_->addItem(Q(s));
    cbFrom_->setEditText(Q(model_.from));
    edtTo_->setText(Q(model_.to));
    edtCc_->setText(Q(model_.cc));
    edtBcc_->setText(Q(model_.bcc));
    edtSubject_->setText(Q(model_.subject));
  }
  lstAttach_->clear();
  for (const std::string& a : model_.attachments) {
    auto* item = new QListWidgetItem(AttachmentName(a), lstAttach_);
    item->setData(Qt::UserRole, Q(a));
    item->setToolTip(Q(a));
  }
  FillContacts();
  setWindowTitle(Q(model_.windowTitle));
  UpdateSendButtons();
  setMode(mode_);
  // A reply or a message started for a contact whose mail is always encrypted.
  if (!model_.headerChanged) CheckAlwaysEncrypt();
}

void TfrmEdit::ApplyPlan(const BodyPlan& plan) {
  if (plan.keepBody) {
    if (plan.html && mode_ != emHtmlEditor && QFileInfo(Q(model_.Request().path)).isFile()) {
      wrap_->Load(model_.Request().path);
      setMode(emHtmlEditor);
    } else if (!plan.html) {
      setMode(emTextEditor);
    }
    return;
  }
  if (!plan.html) {
    QSignalBlocker block(txtText_);
    txtText_->setPlainText(Q(JoinLines(plan.lines, "\n")));
    txtText_->moveCursor(QTextCursor::Start);
    setMode(emTextEditor);
    return;
  }
  if (!plan.document.empty()) {
    const std::string html = plan.wrap.before.empty() && plan.wrap.after.empty()
                                 ? plan.document
                                 : WrapBodyContent(plan.document, plan.wrap.before, plan.wrap.after);
    wrap_->LoadSource(html);
  } else {
    // The viewed document itself, with the reply or forward around its content.
    if (wrap_->DocumentPath() != model_.Request().path && QFileInfo(Q(model_.Request().path)).isFile())
      wrap_->Load(model_.Request().path);
    // Pictures that are parts of their own come along in the quoted or forwarded text.
    const std::string source = ResolvePartPictures(wrap_->Source(), model_.Request().partContentIds);
    wrap_->LoadSource(WrapBodyContent(source, plan.wrap.before, plan.wrap.after));
  }
  htmlEdit_->moveCursor(QTextCursor::Start);
  setMode(emHtmlEditor);
}

void TfrmEdit::Reply(bool all) {
  const BodyPlan plan = model_.Reply(all, viewedText(), svc_.env.userId);
  documentReleased_ = true;
  ApplyPlan(plan);
  ShowComposeHeader();
}

void TfrmEdit::Forward() {
  const BodyPlan plan = model_.Forward(viewedText());
  documentReleased_ = true;
  ApplyPlan(plan);
  ShowComposeHeader();
}

void TfrmEdit::SendAsEmail() {
  const bool newMessage = model_.Request().options & (eoStartNew | eoHiddenNew) &&
                          !QFileInfo(Q(model_.Request().path)).isFile();
  const BodyPlan plan = model_.SendAsEmail(viewedText(), newMessage || (model_.Request().options & eoReEdit));
  documentReleased_ = true;
  ApplyPlan(plan);
  if (newMessage && !plan.html && !plan.lines.empty()) txtText_->moveCursor(QTextCursor::Start);
  ShowComposeHeader();
}

void TfrmEdit::SyncModel() {
  model_.from = S(cbFrom_->currentText());
  model_.to = S(edtTo_->text());
  model_.cc = S(edtCc_->text());
  model_.bcc = S(edtBcc_->text());
  model_.subject = S(edtSubject_->text());
  model_.encrypt = chkEncrypt_->isChecked();
}

void TfrmEdit::UpdateSendButtons() {
  btnSendLater_->setEnabled(model_.SendLaterEnabled());
  btnSendNow_->setEnabled(model_.SendNowEnabled());
}

void TfrmEdit::EncryptToggled(bool byUser) {
  SyncModel();
  model_.encrypt = chkEncrypt_->isChecked();
  if (!model_.CheckEncryption() && chkEncrypt_->isChecked()) {
    chkEncrypt_->setChecked(false);
    if (byUser && !hidden_ && svc_.messages)
      svc_.messages->QueueMessage(MessageKind::Warning,
                                  "Sorry, but only Plumadex users can receive encrypted messages from you.");
  }
}

void TfrmEdit::CheckAlwaysEncrypt() {
  if (chkEncrypt_->isChecked() || !svc_.env.encryptionAvailable) return;
  SyncModel();
  if (!model_.RecipientWantsEncryption()) return;
  chkEncrypt_->setChecked(true);
  EncryptToggled(false);
}

void TfrmEdit::AttachFiles(const QStringList& files) {
  StringList paths;
  for (const QString& f : files)
    if (QFileInfo(f).isFile()) paths.push_back(S(QFileInfo(f).absoluteFilePath()));
  model_.AddAttachments(paths);
  model_.headerChanged = model_.headerChanged || !paths.empty();
  if (!ComposeHeaderShown()) return;
  lstAttach_->clear();
  for (const std::string& a : model_.attachments) {
    auto* item = new QListWidgetItem(AttachmentName(a), lstAttach_);
    item->setData(Qt::UserRole, Q(a));
    item->setToolTip(Q(a));
  }
}

bool TfrmEdit::TextEmpty() const {
  if (mode_ == emHtmlEditor) return htmlEdit_->toPlainText().trimmed().isEmpty() && !htmlEdit_->toHtml().contains(QStringLiteral("<img"));
  if (mode_ == emHtmlViewer) return false;
  return txtText_->toPlainText().trimmed().isEmpty();
}

bool TfrmEdit::textModified() const { return textChanged_; }

std::string TfrmEdit::bodyText() const {
  return mode_ == emHtmlEditor ? wrap_->Source() : S(txtText_->toPlainText());
}

void TfrmEdit::QueueMessage(ComposeModel::QueueKind kind) {
  btnSaveDraft_->setEnabled(false);
  btnSendLater_->setEnabled(false);
  btnSendNow_->setEnabled(false);
  btnClose_->setEnabled(false);
  if (ComposeHeaderShown()) SyncModel();
  if (kind == ComposeModel::QueueKind::Now && svc_.sendRefusal) {
    const std::string refusal = svc_.sendRefusal(model_.from, model_.to + "," + model_.cc + "," + model_.bcc);
    if (!refusal.empty()) {
      if (svc_.messages) {
        svc_.messages->QueueMessage(MessageKind::Warning, refusal);
        svc_.messages->ShowQueuedMessages();
      }
      UpdateSendButtons();
      btnSaveDraft_->setEnabled(true);
      btnClose_->setEnabled(true);
      return;
    }
  }
  model_.attachments.clear();
  StringList att;
  for (int i = 0; i < lstAttach_->count(); ++i) att.push_back(S(lstAttach_->item(i)->data(Qt::UserRole).toString()));
  if (ComposeHeaderShown()) model_.AddAttachments(att);
  else model_.AddAttachments(att.empty() ? model_.Request().attachments : att);

  const std::string preferred = model_.charset.empty() ? svc_.defaultCharset : model_.charset;
  const std::string text = bodyText();
  const std::string charset = ComposeModel::CharsetHolding(
      preferred, {mode_ == emHtmlEditor ? S(htmlEdit_->toPlainText()) : text, model_.subject, model_.from, model_.to,
                  model_.cc, model_.bcc});
  std::string file;
  std::string written = charset;
  if (mode_ == emHtmlEditor) {
    file = svc_.tempFolder + "PX" + NewUniqueId(*svc_.random) + ".eml";
    wrap_->SetDocumentCharset(charset);
    if (!wrap_->Save(file)) {
      if (svc_.messages) svc_.messages->QueueMessage(MessageKind::Error, wrap_->LastError());
      UpdateSendButtons();
      btnSaveDraft_->setEnabled(true);
      btnClose_->setEnabled(true);
      return;
    }
    written = wrap_->DocumentCharset().empty() ? charset : wrap_->DocumentCharset();
  } else {
    file = WriteScratch(svc_.tempFolder, *svc_.random, ".txt", ComposeModel::PlainBodyBytes(text, charset));
    if (file.empty()) {
      if (svc_.messages) svc_.messages->QueueMessage(MessageKind::Error, "Cannot write " + svc_.tempFolder);
      UpdateSendButtons();
      btnSaveDraft_->setEnabled(true);
      btnClose_->setEnabled(true);
      return;
    }
  }
  TNewMessageRec rec = model_.MakeRecord(kind, file, text, written, textModified(), svc_.titleOf);
  svc_.outbox->Push(std::move(rec));
  queued_ = true;
  emit QueuedMessage();
  closingChecked_ = true;
  // Asked while closing: the close under way finishes the job.
  if (!inClose_) close();
}

bool TfrmEdit::SaveDocument() {
  const std::string& path = model_.Request().path;
  if (!textModified() || documentReleased_ || path.empty()) {
    if (model_.charset != openedCharset_) emit CharsetChanged(Q(path), Q(model_.charset));
    return true;
  }
  // Written whole beside the document and put in its place: a full disk or a vanished folder
  // leaves the document as it was, and the window keeps the changes for another try.
  std::string error;
  if (mode_ == emHtmlEditor) {
    if (!wrap_->Save(path)) error = wrap_->LastError();
  } else {
    const std::string bytes = EncodeToCharset(JoinLines(SplitLines(S(txtText_->toPlainText()))), model_.charset);
    if (const FileStatus st = SaveFileAtomic(path, bytes); !st.ok()) error = st.message;
  }
  if (!error.empty()) {
    if (svc_.messages) svc_.messages->QueueMessage(MessageKind::Error, error);
    return false;
  }
  textChanged_ = false;
  if (model_.charset != openedCharset_) emit CharsetChanged(Q(path), Q(model_.charset));
  return true;
}

void TfrmEdit::Block() {
  const std::string address = LowerCase(BareAddressOf(model_.Request().from.empty() ? model_.to : model_.Request().from));
  if (address.empty()) return;
  if (svc_.blockSender) svc_.blockSender(address);
  if (svc_.messages)
    svc_.messages->QueueMessage(
        MessageKind::Information,
        SubstituteArgs("Messages from %1 will blocked. You will not receive any messages from them until you unblock "
                       "them in E-mail Blocking section of Options.",
                       {address}));
}

void TfrmEdit::AllowRemoteContent() {
  pnlRemote_->hide();
  webView_->AllowRemoteContent();
}

void TfrmEdit::OpenLink(const QUrl& url, const QString& shownText) {
  const LinkDecision d = CheckLink(S(url.toString()), S(shownText));
  if (d.action == LinkAction::Refuse) return;
  if (d.action == LinkAction::Ask &&
      AskUser(Q(d.reason) + QStringLiteral("\n\nOpen ") + Q(d.url) + QStringLiteral(" ?"), false) != QMessageBox::Yes)
    return;
  const QUrl target(Q(d.url));
  if (svc_.openUrl) svc_.openUrl(target);
  else QDesktopServices::openUrl(target);
}

bool TfrmEdit::FindText(const QString& text, bool backwards) {
  if (text.isEmpty()) return false;
  if (mode_ == emHtmlViewer) {
    webView_->findText(text, backwards ? QWebEnginePage::FindBackward : QWebEnginePage::FindFlags());
    return true;
  }
  const QTextDocument::FindFlags flags = backwards ? QTextDocument::FindBackward : QTextDocument::FindFlags();
  return mode_ == emHtmlEditor ? htmlEdit_->find(text, flags) : txtText_->find(text, flags);
}

void TfrmEdit::ChooseCharset(const std::string& charset) {
  if (mode_ == emHtmlEditor) {
    wrap_->SetDocumentCharset(charset);
    model_.charset = charset;
  } else if (mode_ == emTextEditor && ComposeHeaderShown()) {
    model_.charset = charset;
  } else if (mode_ != emHtmlViewer) {
    // Read again in the chosen charset: a wrongly labelled message becomes readable.
    model_.charset = charset;
    if (QFileInfo(Q(model_.Request().path)).isFile() && !textModified()) {
      QSignalBlocker block(txtText_);
      txtText_->setPlainText(Q(JoinLines(ReadTextDocument(model_.Request().path, charset), "\n")));
    }
  }
  for (QAction* a : mnuEncoding_->actions())
    if (!a->isSeparator()) a->setChecked(SameText(S(a->data().toString()), charset));
}

void TfrmEdit::FillContacts() {
  FillList(lstContacts_, svc_.contacts);
  SetQuickList(svc_.quickList);
}

void TfrmEdit::SetQuickList(const StringList& entries) {
  svc_.quickList = entries;
  FillList(lstQuick_, entries);
  // The tab is there only while the shown folder knows someone.
  const int ix = tabContacts_->indexOf(lstQuick_);
  tabContacts_->setTabVisible(ix, !entries.empty());
  if (entries.empty() && tabContacts_->currentIndex() == ix) tabContacts_->setCurrentWidget(lstContacts_);
}

void TfrmEdit::FillList(QListWidget* list, const StringList& entries) {
  QSignalBlocker block(list);
  list->clear();
  StringList sorted = entries;
  std::sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
  for (const std::string& c : sorted) {
    auto* item = new QListWidgetItem(Q(c), list);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(AddressInList(S(servedField_->text()), BareAddressOf(c)) ? Qt::Checked : Qt::Unchecked);
  }
}

void TfrmEdit::ContactChecked(const QString& text, bool on) {
  const std::string entry = S(text);
  if (entry.empty()) return;
  std::string field = S(servedField_->text());
  if (on) {
    const std::string name = DisplayNameOf(entry), address = BareAddressOf(entry);
    const std::string value = IsGroupAddress(entry) ? entry : (name.empty() || name == address ? address : FormatAddressElement(name, address));
    field = Trim(field).empty() ? value : Trim(field) + ", " + value;
  } else {
    StringList kept;
    bool removed = false;
    for (const std::string& e : ParseAddressList(field)) {
      if (!removed && LowerCase(BareAddressOf(e)) == LowerCase(BareAddressOf(entry))) {
        removed = true;
        continue;
      }
      kept.push_back(e);
    }
    field = JoinAddressList(kept);
  }
  servedField_->setText(Q(field));
  model_.headerChanged = true;
  SyncModel();
  UpdateSendButtons();
  if (on) CheckAlwaysEncrypt();
}

int TfrmEdit::AskUser(const QString& text, bool withCancel) {
  if (svc_.ask) return svc_.ask(text, withCancel);
  return QMessageBox::question(this, QStringLiteral("Plumadex"), text,
                               withCancel ? QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel
                                          : QMessageBox::Yes | QMessageBox::No);
}

void TfrmEdit::PrintTo(QPrinter& printer, bool selectionOnly) {
  QTextDocument doc;
  if (mode_ == emTextViewer || mode_ == emTextEditor) {
    StringList lines;
    if (selectionOnly) {
      lines = SplitLines(S(txtText_->textCursor().selectedText().replace(QChar(0x2029), QLatin1Char('\n'))));
    } else {
      const std::string rule(kWrapWidth, '=');
      lines.push_back(rule);
      for (const std::string& h : model_.Request().headerLines) lines.push_back(h);
      lines.push_back(rule);
      for (const std::string& l : SplitLines(S(txtText_->toPlainText()))) lines.push_back(l);
    }
    doc.setDefaultFont(svc_.textFont);
    doc.setPlainText(Q(JoinLines(QuoteAndWrap(lines, false), "\n")));
  } else if (mode_ == emHtmlEditor) {
    htmlEdit_->document()->print(&printer);
    return;
  } else {
    // The viewed page, read into a document of its own, with the header block in front.
    mailformat::TextDocumentEditor editor(&doc);
    mailformat::TDHTMLEditWrap wrap(editor, svc_.tempFolder, *svc_.random);
    wrap.Load(model_.Request().path);
    wrap.LoadSource(WrapBodyContent(wrap.Source(), "<DIV><HR>" + HeaderBlockHtml(model_.Request().headerLines) + "<HR>&nbsp;</DIV>", ""));
    doc.print(&printer);
    return;
  }
  doc.print(&printer);
}

bool TfrmEdit::ExportPdf(const QString& file) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(file);
  PrintTo(printer);
  return QFileInfo(file).size() > 0;
}

bool TfrmEdit::eventFilter(QObject* watched, QEvent* e) {
  // Files dropped on the text become attachments while composing.
  if ((watched == txtText_->viewport() || watched == htmlEdit_->viewport() || watched == txtText_ ||
       watched == htmlEdit_ || watched == this) &&
      (e->type() == QEvent::DragEnter || e->type() == QEvent::DragMove || e->type() == QEvent::Drop)) {
    auto* d = static_cast<QDropEvent*>(e);
    if (ComposeHeaderShown() && d->mimeData()->hasUrls()) {
      if (e->type() == QEvent::Drop) {
        QStringList files;
        for (const QUrl& u : d->mimeData()->urls())
          if (u.isLocalFile()) files << u.toLocalFile();
        AttachFiles(files);
      }
      d->acceptProposedAction();
      return true;
    }
  }
  if (watched == txtText_->viewport() && e->type() == QEvent::MouseButtonRelease) {
    auto* m = static_cast<QMouseEvent*>(e);
    if (m->button() == Qt::LeftButton && !txtText_->textCursor().hasSelection()) {
      const QTextCursor c = txtText_->cursorForPosition(m->position().toPoint());
      const QRect r = txtText_->cursorRect(c);
      const int fh = txtText_->fontMetrics().height();
      if (std::abs(r.center().y() - m->position().y()) <= fh && std::abs(r.x() - m->position().x()) <= fh) {
        const QString line = c.block().text();
        const int col = c.positionInBlock();
        for (const TextLink& l : FindTextLinks(S(line))) {
          if (col >= static_cast<int>(l.start) && col <= static_cast<int>(l.start + l.length)) {
            OpenLink(QUrl(Q(TextLinkTarget(l.text))), Q(l.text));
            return true;
          }
        }
      }
    }
  }
  if (watched == txtText_->viewport() && e->type() == QEvent::MouseMove) {
    auto* m = static_cast<QMouseEvent*>(e);
    const QTextCursor c = txtText_->cursorForPosition(m->position().toPoint());
    bool overLink = false;
    for (const TextLink& l : FindTextLinks(S(c.block().text())))
      if (c.positionInBlock() >= static_cast<int>(l.start) && c.positionInBlock() < static_cast<int>(l.start + l.length))
        overLink = true;
    txtText_->viewport()->setCursor(overLink ? Qt::PointingHandCursor : Qt::IBeamCursor);
  }
  if (watched == lstAttach_ && e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Delete) {
    for (QListWidgetItem* item : lstAttach_->selectedItems()) {
      const std::string p = S(item->data(Qt::UserRole).toString());
      std::erase(model_.attachments, p);
      delete item;
    }
    model_.headerChanged = true;
    return true;
  }
  if ((watched == edtTo_ || watched == edtCc_ || watched == edtBcc_) && e->type() == QEvent::FocusIn) {
    auto* field = static_cast<QLineEdit*>(watched);
    if (field != servedField_) {
      for (QLabel* l : {lblTo_, lblCc_, lblBcc_}) {
        QFont f = l->font();
        f.setUnderline(false);
        l->setFont(f);
      }
      servedField_ = field;
      QLabel* l = field == edtTo_ ? lblTo_ : field == edtCc_ ? lblCc_ : lblBcc_;
      QFont f = l->font();
      f.setUnderline(true);
      l->setFont(f);
      FillContacts();
    }
  }
  return QMainWindow::eventFilter(watched, e);
}

void TfrmEdit::closeEvent(QCloseEvent* e) {
  if (!closingChecked_ && !queued_) {
    const bool composing = ComposeHeaderShown() || hidden_;
    if (!TextEmpty() && textModified()) {
      if (composing && (mode_ == emTextEditor || mode_ == emHtmlEditor)) {
        const int a = AskUser(QStringLiteral("Save changes"), true);
        if (a == QMessageBox::Cancel) {
          e->ignore();
          return;
        }
        if (a == QMessageBox::Yes) {
          inClose_ = true;
          QueueMessage(ComposeModel::QueueKind::Later);
          inClose_ = false;
        }
      } else if (!composing && !documentReleased_) {
        const int a = AskUser(QStringLiteral("Save changes?"), true);
        if (a == QMessageBox::Cancel) {
          e->ignore();
          return;
        }
        if (a == QMessageBox::Yes && !SaveDocument()) {
          e->ignore();  // not saved: the changes stay in the open window
          return;
        }
      }
    } else if (!composing && model_.charset != openedCharset_) {
      emit CharsetChanged(Q(model_.Request().path), Q(model_.charset));
    }
  }
  closingChecked_ = true;
  emit WindowClosed(this);
  e->accept();
}

}  // namespace px::compose::ui
