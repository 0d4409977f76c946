#pragma once
// Icons for the grid, made off the main thread. A key is "ext:" + lower-case extension (the file
// type's icon from the MIME database and the icon theme) or "icon:" + a theme icon name. The
// worker thread only loads images and hands them over through a queued signal; pixmaps are
// made and cached on the main thread, once per key for the whole run.
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QSet>
#include <QStringList>

class QThread;

namespace px::desk {

class IconMaker;

class IconWorker : public QObject {
  Q_OBJECT
public:
  explicit IconWorker(int size = 16, QObject* parent = nullptr);
  ~IconWorker() override;

  // The cached icon, or a null pixmap while it is being made (iconReady follows).
  QPixmap Icon(const QString& key);
  static QString ExtKey(const std::string& ext);
  static QString NameKey(const char* iconName) { return QStringLiteral("icon:") + QLatin1String(iconName); }
  int Pending() const { return static_cast<int>(pending_.size()); }

signals:
  void iconReady(const QString& key);
  void RequestIcon(const QString& key);  // to the worker (queued)

private slots:
  void OnMade(const QString& key, const QImage& image);

private:
  int size_;
  QThread* thread_ = nullptr;
  IconMaker* maker_ = nullptr;
  QHash<QString, QPixmap> cache_;
  QSet<QString> pending_;
};

// Lives in the worker thread.
class IconMaker : public QObject {
  Q_OBJECT
public:
  IconMaker(int size, QStringList themes, QStringList searchPaths)
      : size_(size), themes_(std::move(themes)), searchPaths_(std::move(searchPaths)) {}
public slots:
  void make(const QString& key);
signals:
  void made(const QString& key, const QImage& image);

private:
  QImage load(const QStringList& names) const;
  int size_;
  QStringList themes_;
  QStringList searchPaths_;
};

}  // namespace px::desk
