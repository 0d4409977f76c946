#pragma once
// The option pages: the list of the eight pages on the left, the shown page's panel on the
// right, and OK (btnApplySettings). Leaving a page saves it, as OK does; each page writes
// only the values the user changed (option_pages.h). Immediate actions (fonts, colours, the
// password change, the accounts and blocked senders) act at once.
//
// Pages whose part of the program is not there yet show their controls disabled under a
// one-line note saying what will come.
#include "desk/option_pages.h"
#include "transport/service_requests.h"

#include <QDialog>

#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStackedWidget;
class QFrame;

namespace px::incoming {
class BlockedSenders;
}

namespace px::desk {

struct OptionsServices {
  Settings* settings = nullptr;
  // The desk's blocked senders (saved by the list itself); null: the page is disabled.
  incoming::BlockedSenders* blocked = nullptr;
  std::function<void(const std::string&)> notify;       // warnings and refusals
  std::function<void(const std::string&)> inform;       // information
  std::function<void(FontRole)> fontChanged;            // the desk applies the new font
  std::function<void()> appearanceSaved;                // highlighting changed: repaint
  std::function<void()> checkMailChanged;               // tmrCheckMail is set anew
  std::function<void()> personalSaved;                  // OwnFromAddress recomputed
  std::function<void()> serverChanged;                  // the mail service's server was changed
  std::function<void()> openAccounts;                   // the accounts window, modal
  std::function<void()> setUpAddress;                   // the service address set-up, modal
  std::function<void()> importContacts;                 // "Import contacts..."; null: disabled
  std::function<void()> importMail;                     // "Import mail...", "Import accounts..."; null: disabled
  // Request 7; null: the group is disabled.
  std::function<transport::PasswordChangeOutcome(const std::string& oldPassword, const std::string& newPassword,
                                                 bool savePassword)>
      changePassword;
  // Colour dialog: returns the chosen colour or nullopt; custom colours are passed through.
  std::function<std::optional<ColorRef>(ColorRef current, std::string& customColors)> chooseColor;
  // Font dialog: returns the chosen font or nullopt.
  std::function<std::optional<FontValue>(const FontValue& current, const std::string& caption)> chooseFont;
  FontValue baseFont;                                    // the standard UI font
  // The Encryption page; null: the page waits under a note.
  struct EncryptionState {
    bool available = false;
    std::string reason;      // why not, when not available
    bool hasUser = false;    // a service user name is set
    bool hasOwnKey = false;
    std::vector<std::string> keys;  // the keys held, one line each
  };
  std::function<EncryptionState()> encryptionState;
  // Creates and publishes the own key, or withdraws it; the outcome goes through notify/inform.
  std::function<void()> encryptionKeyAction;
  // "Import key...": keys from another program; the outcome goes through notify/inform.
  std::function<void()> importKey;
};

class TfrmOptions : public QDialog {
public:
  TfrmOptions(OptionsServices services, OptionPage first, QWidget* parent = nullptr);
  ~TfrmOptions() override;

  // Hides the visible page (saving it), fills and shows the page.
  void ShowSettings(OptionPage page);
  // Saves the visible page; false when a value was refused (the page stays).
  bool SaveSettingsPage();
  // The local server box and field: a valid change is kept at once.
  void ApplyLocalServer();
  OptionPage Shown() const { return shown_; }

  QListWidget* lstPages = nullptr;
  QStackedWidget* pnlPages = nullptr;
  QPushButton* btnApplySettings = nullptr;
  QFrame* Panel(OptionPage p) const { return panels_[static_cast<int>(p)]; }
  QLabel* Note(OptionPage p) const { return notes_[static_cast<int>(p)]; }

  // Personal settings.
  QLineEdit* edtUserName = nullptr;
  QLineEdit* edtUserAddress = nullptr;
  QCheckBox* cbFrom = nullptr;
  QListWidget* lstFrom = nullptr;
  QPushButton* btnFromAdd = nullptr;
  QPushButton* btnFromEdit = nullptr;
  QPushButton* btnFromRemove = nullptr;
  QLineEdit* edtFrom = nullptr;
  QPushButton* btnFromSave = nullptr;
  QRadioButton* rbRichText = nullptr;
  QRadioButton* rbPlainText = nullptr;
  QComboBox* cbCharset = nullptr;
  QCheckBox* chkUseSignature = nullptr;
  QPlainTextEdit* edtSignature = nullptr;
  QCheckBox* chkNoTags = nullptr;
  // Appearance.
  QRadioButton* rbNoSkin = nullptr;
  QRadioButton* rbPXSkin = nullptr;
  QRadioButton* rbDefaultColor = nullptr;
  QRadioButton* rbCustomColor = nullptr;
  QPushButton* pnlDashColor = nullptr;
  QCheckBox* chkSliding = nullptr;
  QCheckBox* chkHighlightFontBold = nullptr;
  QCheckBox* chkHighlightFontColor = nullptr;
  QPushButton* pnlHighlightFontColor = nullptr;
  QPushButton* btnTreeFont = nullptr;
  QPushButton* btnGridFont = nullptr;
  QPushButton* btnTextFont = nullptr;
  QPushButton* btnHTMLFont = nullptr;
  // Plumadex mail configuration.
  QCheckBox* chkAutoCheck = nullptr;
  QSpinBox* edtInterval = nullptr;
  QCheckBox* cbLocal = nullptr;
  QLineEdit* edtLocalServer = nullptr;
  QCheckBox* chkKeepOnServer = nullptr;
  QLineEdit* edtOldPassword = nullptr;
  QLineEdit* edtNewPassword = nullptr;
  QLineEdit* edtConfirmPassword = nullptr;
  QCheckBox* chkSavePassword = nullptr;
  QPushButton* btnChangePassword = nullptr;
  QPushButton* btnSetUpAddress = nullptr;
  QLabel* lblServiceAddress = nullptr;
  // External e-mail configuration.
  QListWidget* lstAccount = nullptr;
  QPushButton* btnAccounts = nullptr;
  // Encryption.
  QLabel* lblPgpHint = nullptr;
  QPushButton* btnPgpKey = nullptr;
  QLabel* lblPgpBusy = nullptr;
  QPushButton* btnImportKey = nullptr;
  QListWidget* lstKeys = nullptr;
  // E-mail blocking.
  QListWidget* lstBlocked = nullptr;
  QLineEdit* edtBlocked = nullptr;
  QPushButton* btnBlockedAdd = nullptr;
  QPushButton* btnBlockedRemove = nullptr;

  void btnFromAddClick();
  void btnFromEditClick();
  void btnFromRemoveClick();
  void btnFromSaveClick();
  void btnChangePasswordClick();
  void btnBlockedAddClick();
  void btnBlockedRemoveClick();
  void ChooseFont(FontRole role);
  void ChooseColor(QPushButton* panel);

private:
  void BuildPersonal(QFrame* p);
  void BuildAppearance(QFrame* p);
  void BuildPXMail(QFrame* p);
  void BuildExtMail(QFrame* p);
  void BuildBlackList(QFrame* p);
  void BuildWaiting(QFrame* p, OptionPage page);
  void BuildEncryption(QFrame* p);
  void FillEncryption();
  void fill(OptionPage page);
  void FillFromList();
  void FillAccounts();
  void FillBlocked();
  void FillServiceAddress();
  void UpdatePasswordButton();
  PersonalValues PersonalNow() const;
  AppearanceValues AppearanceNow() const;
  PXMailValues PxMailNow() const;
  void accept() override;
  void reject() override;

  OptionsServices svc_;
  OptionPage shown_ = OptionPage::Personal;
  bool anyShown_ = false;
  QFrame* panels_[kOptionPageCount] = {};
  QLabel* notes_[kOptionPageCount] = {};
  PersonalValues personalShown_, personalEdit_;
  AppearanceValues appearanceShown_;
  ColorRef dashColor_ = kDefaultColor;
  ColorRef highlightColor_ = kDefaultHighlightColor;
  PXMailValues pxMailShown_;
  bool filling_ = false;  // the page's controls are being filled from the settings
  bool signatureEdited_ = false;
  int fromEditing_ = -1;  // the entry the edit field replaces, -1 for a new one
};

}  // namespace px::desk
