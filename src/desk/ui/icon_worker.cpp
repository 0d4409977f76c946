#include "desk/ui/icon_worker.h"

#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QImageReader>
#include <QMimeDatabase>
#include <QThread>

namespace px::desk {

IconWorker::IconWorker(int size, QObject* parent) : QObject(parent), size_(size) {
  QStringList themes;
  if (!QIcon::themeName().isEmpty()) themes << QIcon::themeName();
  if (!QIcon::fallbackThemeName().isEmpty()) themes << QIcon::fallbackThemeName();
  themes << QStringLiteral("Adwaita") << QStringLiteral("hicolor");
  themes.removeDuplicates();
  QStringList paths = QIcon::themeSearchPaths();
  paths << QStringLiteral("/usr/share/icons");
  paths.removeDuplicates();
  thread_ = new QThread(this);
  thread_->setObjectName(QStringLiteral("IconWorker"));
  maker_ = new IconMaker(size, themes, paths);
  maker_->moveToThread(thread_);
  connect(thread_, &QThread::finished, maker_, &QObject::deleteLater);
  connect(this, &IconWorker::RequestIcon, maker_, &IconMaker::make, Qt::QueuedConnection);
  connect(maker_, &IconMaker::made, this, &IconWorker::OnMade, Qt::QueuedConnection);
  thread_->start(QThread::LowPriority);
}

IconWorker::~IconWorker() {
  thread_->quit();
  thread_->wait();
}

QString IconWorker::ExtKey(const std::string& ext) {
  return QStringLiteral("ext:") + QString::fromUtf8(ext.data(), static_cast<int>(ext.size())).toLower();
}

QPixmap IconWorker::Icon(const QString& key) {
  auto it = cache_.constFind(key);
  if (it != cache_.constEnd()) return *it;
  if (!pending_.contains(key)) {
    pending_.insert(key);
    emit RequestIcon(key);
  }
  return {};
}

void IconWorker::OnMade(const QString& key, const QImage& image) {
  pending_.remove(key);
  // A key without an image keeps an empty pixmap: it is not asked for again.
  cache_.insert(key, image.isNull() ? QPixmap() : QPixmap::fromImage(image));
  emit iconReady(key);
}

void IconMaker::make(const QString& key) {
  QStringList names;
  if (key.startsWith(QLatin1String("ext:"))) {
    const QString ext = key.mid(4);
    static const QMimeDatabase db;
    const QMimeType mime = ext.isEmpty() ? db.mimeTypeForName(QStringLiteral("application/octet-stream"))
                                         : db.mimeTypeForFile(QStringLiteral("x.") + ext, QMimeDatabase::MatchExtension);
    names << mime.iconName() << mime.genericIconName();
    if (mime.name().startsWith(QLatin1String("text/"))) names << QStringLiteral("text-x-generic");
    names << QStringLiteral("application-x-generic") << QStringLiteral("text-x-generic");
  } else if (key.startsWith(QLatin1String("icon:"))) {
    names << key.mid(5);
  }
  emit made(key, load(names));
}

QImage IconMaker::load(const QStringList& names) const {
  static const char* const kSizes[] = {"16x16", "22x22", "24x24", "32x32", "48x48", "64x64", "scalable"};
  static const char* const kKinds[] = {"mimetypes", "places", "status", "actions", "apps", "devices", "legacy"};
  for (const QString& name : names) {
    if (name.isEmpty()) continue;
    for (const QString& theme : themes_) {
      for (const QString& base : searchPaths_) {
        const QString root = base + QLatin1Char('/') + theme + QLatin1Char('/');
        if (!QFileInfo(root).isDir()) continue;
        for (const char* size : kSizes) {
          for (const char* kind : kKinds) {
            for (const char* suffix : {".png", ".svg", "-symbolic.symbolic.png", "-symbolic.svg"}) {
              const QString file = root + QLatin1String(size) + QLatin1Char('/') + QLatin1String(kind) +
                                   QLatin1Char('/') + name + QLatin1String(suffix);
              if (!QFileInfo::exists(file)) continue;
              QImageReader reader(file);
              if (reader.canRead()) reader.setScaledSize(QSize(size_, size_));
              QImage img = reader.read();
              if (!img.isNull()) return img.size() == QSize(size_, size_) ? img
                                                                         : img.scaled(size_, size_, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            }
          }
        }
      }
    }
  }
  return {};
}

}  // namespace px::desk
