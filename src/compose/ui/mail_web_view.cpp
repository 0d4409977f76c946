#include "compose/ui/mail_web_view.h"

#include "compose/link_check.h"
#include "compose/message_view.h"
#include "foundation/atomic_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>

#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace px::compose::ui {

QByteArray FlagsWithoutSandbox(const QByteArray& flags) {
  for (const QByteArray& f : flags.split(' '))
    if (f == "--no-sandbox") return flags;
  return flags.trimmed().isEmpty() ? QByteArray("--no-sandbox") : flags.trimmed() + " --no-sandbox";
}

bool PrepareWebEngineForUser() {
  if (::geteuid() != 0) return false;
  qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  qputenv("QTWEBENGINE_CHROMIUM_FLAGS", FlagsWithoutSandbox(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS")));
  static bool told = false;
  if (!told) {
    told = true;
    std::fprintf(stderr, "plumadex: running as root: the message viewer's web engine runs without its sandbox\n");
  }
  return true;
}

// Decides every request of the page, on the engine's IO thread: the page file and the
// message's own parts load; the network only after the user allowed it; nothing else.
class MailRequestFilter : public QWebEngineUrlRequestInterceptor {
public:
  explicit MailRequestFilter(QObject* parent) : QWebEngineUrlRequestInterceptor(parent) {}

  void Reset(const QString& pageFile, const QString& resourceFolder) {
    std::lock_guard lock(mutex_);
    pageFile_ = pageFile;
    resourceFolder_ = resourceFolder;
    remote_ = false;
    blocked_ = 0;
  }
  void AllowRemote() {
    std::lock_guard lock(mutex_);
    remote_ = true;
  }
  bool RemoteAllowed() const {
    std::lock_guard lock(mutex_);
    return remote_;
  }
  int Blocked() const { return blocked_.load(); }
  std::function<void()> onFirstBlock;

  void interceptRequest(QWebEngineUrlRequestInfo& info) override {
    const QUrl url = info.requestUrl();
    const QString scheme = url.scheme().toLower();
    bool allow = false;
    {
      std::lock_guard lock(mutex_);
      if (scheme == QLatin1String("file")) {
        const QString local = QFileInfo(url.toLocalFile()).absoluteFilePath();
        allow = local == pageFile_ ||
                (!resourceFolder_.isEmpty() && local.startsWith(resourceFolder_) && !local.contains(QLatin1String("/../")));
      } else if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
        allow = remote_;
        if (!allow && blocked_.fetch_add(1) == 0 && onFirstBlock) onFirstBlock();
        info.block(!allow);
        return;
      } else if (scheme == QLatin1String("data")) {
        // Inline pictures travel inside the message itself.
        allow = info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeImage;
      }
    }
    info.block(!allow);
  }

private:
  mutable std::mutex mutex_;
  QString pageFile_;
  QString resourceFolder_;
  bool remote_ = false;
  std::atomic<int> blocked_{0};
};

MailWebPage::MailWebPage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent) {}

bool MailWebPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
  if (type == NavigationTypeLinkClicked) {
    emit LinkClicked(url);
    return false;
  }
  // Only the message page itself is ever shown; redirects, refreshes, forms and frames to
  // elsewhere are refused.
  if (url == documentUrl_) return true;
  if (!isMainFrame && (url.scheme() == QLatin1String("about") || url.isLocalFile())) return url == documentUrl_;
  const QString scheme = url.scheme().toLower();
  if (!isMainFrame && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))) {
    // A frame showing a page from the network is remote content: it loads once the user allowed
    // remote content for this message, and until then the window offers to.
    if (remoteAllowed && remoteAllowed()) return true;
    emit RemoteFrameBlocked();
    return false;
  }
  if (type == NavigationTypeFormSubmitted) emit RemoteFrameBlocked();
  return false;
}

namespace {
// A link that wants a new window: its address goes to the viewer like any other click, and
// the page that would have held it is dropped.
class LinkCatcher : public QWebEnginePage {
public:
  LinkCatcher(QWebEngineProfile* profile, MailWebPage* owner) : QWebEnginePage(profile, owner), owner_(owner) {}

protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
    if (owner_) emit owner_->LinkClicked(url);
    deleteLater();
    return false;
  }

private:
  MailWebPage* owner_;
};
}  // namespace

QWebEnginePage* MailWebPage::createWindow(WebWindowType) { return new LinkCatcher(profile(), this); }

MailWebView::MailWebView(QWidget* parent) : QWebEngineView(parent) {
  // An off-the-record profile of its own: no cookies or cache on disk, and a request filter
  // that belongs to this view only.
  profile_ = new QWebEngineProfile(this);
  profile_->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
  profile_->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
  filter_ = new MailRequestFilter(this);
  filter_->onFirstBlock = [this] {
    QMetaObject::invokeMethod(this, [this] { emit RemoteContentBlocked(); }, Qt::QueuedConnection);
  };
  profile_->setUrlRequestInterceptor(filter_);
  page_ = new MailWebPage(profile_, this);
  page_->remoteAllowed = [this] { return filter_->RemoteAllowed(); };
  connect(page_, &MailWebPage::RemoteFrameBlocked, this, [this] {
    if (!filter_->RemoteAllowed()) emit RemoteContentBlocked();
  });
  QWebEngineSettings* s = page_->settings();
  s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
  s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  s->setAttribute(QWebEngineSettings::AutoLoadImages, true);
  s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);  // the filter decides
  s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
  s->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
  s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
  s->setAttribute(QWebEngineSettings::XSSAuditingEnabled, true);
  s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
  s->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
  s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
  s->setAttribute(QWebEngineSettings::WebGLEnabled, false);
  s->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
  setPage(page_);
  setAcceptDrops(false);
  connect(page_, &MailWebPage::LinkClicked, this, [this](const QUrl& url) { emit LinkClicked(url, ShownTextOf(url)); });
  connect(page_, &QWebEnginePage::loadFinished, this, [this](bool ok) {
    loaded_ = true;
    emit MessageLoaded(ok);
  });
}

MailWebView::~MailWebView() {
  // The page must go before its profile.
  setPage(nullptr);
  delete page_;
}

void MailWebView::ShowMessage(const std::string& html, const std::string& resourceFolder,
                              const std::string& scratchFolder) {
  loaded_ = false;
  linkTexts_.clear();
  for (const auto& [href, text] : AnchorTexts(html))
    linkTexts_.emplace(QString::fromStdString(href), QString::fromStdString(text));
  // Written to a file so that big pages load whole and relative references stay inside the
  // message's own folder.
  QDir().mkpath(QString::fromStdString(scratchFolder));
  const QString pageFile = QDir(QString::fromStdString(scratchFolder)).absoluteFilePath(QStringLiteral("message.html"));
  // A scratch page: not flushed, and a failure shows as a page that does not load.
  (void)SaveFileAtomic(pageFile.toStdString(), ForceUtf8Meta(html), true, false);
  QString res;
  if (!resourceFolder.empty()) {
    res = QFileInfo(QString::fromStdString(resourceFolder)).absoluteFilePath();
    if (!res.endsWith(QLatin1Char('/'))) res += QLatin1Char('/');
  }
  filter_->Reset(pageFile, res);
  pageUrl_ = QUrl::fromLocalFile(pageFile);
  page_->SetDocumentUrl(pageUrl_);
  page_->load(pageUrl_);
}

void MailWebView::AllowRemoteContent() {
  filter_->AllowRemote();
  loaded_ = false;
  page_->load(pageUrl_);
}

bool MailWebView::RemoteAllowed() const { return filter_->RemoteAllowed(); }
int MailWebView::BlockedRequests() const { return filter_->Blocked(); }

QString MailWebView::ShownTextOf(const QUrl& url) const {
  const QString key = url.toString();
  auto it = linkTexts_.find(key);
  if (it != linkTexts_.end()) return it->second;
  for (const auto& [href, text] : linkTexts_)
    if (QUrl(href) == url) return text;
  return {};
}

}  // namespace px::compose::ui
