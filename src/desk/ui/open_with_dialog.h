#pragma once
// "Open with": the programs that declare the document's type first, then every other program,
// as a file manager offers them.
#include "platform/desktop_apps.h"

#include <QDialog>

#include <optional>
#include <string>
#include <vector>

class QListWidget;

namespace px::desk {

class TfrmOpenWith : public QDialog {
  Q_OBJECT
public:
  TfrmOpenWith(const std::string& fileName, const std::string& mimeType,
               std::vector<platform::DesktopEntry> forType, std::vector<platform::DesktopEntry> others,
               QWidget* parent = nullptr);
  std::optional<platform::DesktopEntry> Chosen() const;
  QListWidget* List() const { return lstPrograms_; }

private:
  std::vector<platform::DesktopEntry> entries_;  // in list order; separators are not entries
  QListWidget* lstPrograms_ = nullptr;
};

}  // namespace px::desk
