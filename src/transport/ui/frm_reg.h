#pragma once
// The welcome window and the address window of the service address set-up. Thin views over
// transport/address_setup.h; the request itself is handed in, so tests run without a network.
#include "transport/address_setup.h"

#include <QDialog>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QComboBox;
class QPushButton;

namespace px::transport {

// Sends the request of the mode and stores on success.
using RegRequest = std::function<RegResult(RegMode, const RegFields&)>;
// Shows a message to the user.
using RegNotify = std::function<void(MessageKind, const std::string&)>;

class TfrmReg : public QDialog {
  Q_OBJECT
public:
  TfrmReg(RegMode mode, RegRequest request, RegNotify notify, std::string host, QWidget* parent = nullptr);
  bool Completed() const { return completed_; }
  RegFields Fields() const;

  QLineEdit* edtName = nullptr;
  QLineEdit* edtUser = nullptr;
  QLineEdit* edtPassword = nullptr;
  QLineEdit* edtRepeat = nullptr;
  QComboBox* cbQuestion = nullptr;
  QLineEdit* edtAnswer = nullptr;
  QLineEdit* edtServer = nullptr;
  QPushButton* btnRegister = nullptr;
  QPushButton* btnVerify = nullptr;
  QLabel* lblForgot = nullptr;
  QLabel* lblStatus = nullptr;

  void btnActionClick();

protected:
  void showEvent(QShowEvent* e) override;

private:
  void UpdateEnabled();
  void FocusOn(RegFocus f);

  RegMode mode_;
  RegRequest request_;
  RegNotify notify_;
  std::string host_;
  bool completed_ = false;
};

class TfrmReg2 : public QDialog {
  Q_OBJECT
public:
  // openAddressWindow runs the address window of a mode and answers whether it completed.
  TfrmReg2(const WelcomeView& view, std::function<bool(RegMode)> openAddressWindow, QWidget* parent = nullptr);
  // The choice that ended the window; none when the user closed it.
  std::optional<WelcomeChoice> Chosen() const { return chosen_; }
  QPushButton* Button(WelcomeChoice c) const;

private:
  void choose(WelcomeChoice c);

  std::function<bool(RegMode)> openAddressWindow_;
  std::optional<WelcomeChoice> chosen_;
  std::vector<std::pair<WelcomeChoice, QPushButton*>> buttons_;
};

}  // namespace px::transport
