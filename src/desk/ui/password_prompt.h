#pragma once
// The password window: asks for a password that is not saved, with "Save password on disk".
#include <QDialog>

#include <optional>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace px::desk {

struct PasswordAnswer {
  std::string password;
  bool save = false;
};

class TfrmPassword : public QDialog {
public:
  TfrmPassword(const QString& prompt, QWidget* parent = nullptr);
  QLabel* lblPrompt = nullptr;
  QLineEdit* edtPassword = nullptr;
  QCheckBox* chkSavePassword = nullptr;
  PasswordAnswer Answer() const;
};

// nullopt when the user cancels or gives an empty password.
std::optional<PasswordAnswer> AskPassword(QWidget* parent, const QString& prompt);

}  // namespace px::desk
