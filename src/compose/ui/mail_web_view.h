#pragma once
// The viewer of received HTML mail: a web view that runs no scripts and no plugins, loads
// nothing from the network until the user asks for it for this message, shows the message's
// own pictures (its "cid:" parts, extracted to a private folder), and never navigates: a
// clicked link is handed to the window, which checks it and opens it in the user's browser.
#include <QString>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>

class QWebEngineProfile;

namespace px::compose::ui {

// Chromium refuses to start its sandboxed helpers for root. When the program runs as root,
// the web engine is started with its sandbox off (and this is said once on standard error);
// for other users nothing changes. Call before the application object is made. Returns true
// when the sandbox was switched off.
bool PrepareWebEngineForUser();
// The Chromium flags with "--no-sandbox" added once (kept as they are when it is there).
QByteArray FlagsWithoutSandbox(const QByteArray& flags);

class MailRequestFilter;

class MailWebPage : public QWebEnginePage {
  Q_OBJECT
public:
  MailWebPage(QWebEngineProfile* profile, QObject* parent);
  // The one page this view may show.
  void SetDocumentUrl(const QUrl& url) { documentUrl_ = url; }
  // Whether frames of the message may load pages from the network.
  std::function<bool()> remoteAllowed;

signals:
  void LinkClicked(const QUrl& url);
  // A frame of the message wanted a page from the network and was refused.
  void RemoteFrameBlocked();

protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
  QWebEnginePage* createWindow(WebWindowType type) override;
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int, const QString&) override {}

private:
  QUrl documentUrl_;
};

class MailWebView : public QWebEngineView {
  Q_OBJECT
public:
  explicit MailWebView(QWidget* parent = nullptr);
  ~MailWebView() override;

  // Shows the HTML (UTF-8) of a message whose references already point at its extracted parts
  // in `resourceFolder` (may be empty). `scratchFolder` receives the page file. Remote content
  // is blocked again for every new message.
  void ShowMessage(const std::string& html, const std::string& resourceFolder, const std::string& scratchFolder);
  // Lets this message load pictures and styles from the network and shows it again.
  void AllowRemoteContent();
  bool RemoteAllowed() const;
  // Requests to the network that were refused for the message shown.
  int BlockedRequests() const;
  bool LoadFinished() const { return loaded_; }
  // What the links of the page show, by target, for the link check.
  QString ShownTextOf(const QUrl& url) const;

signals:
  void RemoteContentBlocked();
  void LinkClicked(const QUrl& url, const QString& shownText);
  void MessageLoaded(bool ok);

private:
  QWebEngineProfile* profile_ = nullptr;
  MailRequestFilter* filter_ = nullptr;
  MailWebPage* page_ = nullptr;
  QUrl pageUrl_;
  bool loaded_ = false;
  std::multimap<QString, QString> linkTexts_;
};

}  // namespace px::compose::ui
