#pragma once
// pnlFilter: the filter panel under the grid. A thin view: it holds the controls, gives their
// values as a FilterPanelState, and tells its owner when Search, Cancel or Stop is pressed. The
// busy indicator is a timer on the UI thread.
#include "search/filter_session.h"

#include <QFrame>

class QCalendarWidget;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

namespace px::search {

class TpnlFilter : public QFrame {
  Q_OBJECT
public:
  explicit TpnlFilter(QWidget* parent = nullptr);

  FilterPanelState State() const;
  // "Search" hidden and "Stop", "Searching..." shown while on.
  void ShowSearching(bool on);
  void SetStatusText(const QString& text);
  // The index's first build: folders done of total; hidden once done (or total 0).
  void ShowIndexing(qint64 done, qint64 total);

  QCalendarWidget* FilterCalendar = nullptr;
  QComboBox* cbFilterYear = nullptr;
  QComboBox* cbFilterMonth = nullptr;
  QPushButton* btnFilterDate1 = nullptr;
  QLineEdit* edtFilterDate1 = nullptr;
  QPushButton* btnFilterDate1Clear = nullptr;
  QPushButton* btnFilterDate2 = nullptr;
  QLineEdit* edtFilterDate2 = nullptr;
  QPushButton* btnFilterDate2Clear = nullptr;
  QLineEdit* edtFilterKeywords = nullptr;
  QPushButton* btnFilterKeywordsClear = nullptr;
  QCheckBox* cbSearchWords = nullptr;
  QCheckBox* cbSearchCase = nullptr;
  QCheckBox* cbSearchInside = nullptr;
  QRadioButton* rbFilterKeywordsAnd = nullptr;
  QRadioButton* rbFilterKeywordsOr = nullptr;
  QCheckBox* cbSearchBundles = nullptr;
  QCheckBox* cbSearchFolders = nullptr;
  QCheckBox* cbSearchCombined = nullptr;
  QLineEdit* edtFilterAddress = nullptr;
  QPushButton* btnFilterAddressClear = nullptr;
  QCheckBox* cbSearchIgnoreFrom = nullptr;
  QCheckBox* cbSearchIgnoreTo = nullptr;
  QCheckBox* cbSearchIgnoreCc = nullptr;
  QCheckBox* cbSearchIgnoreBcc = nullptr;
  QRadioButton* rbFilterAddressAnd = nullptr;
  QRadioButton* rbFilterAddressOr = nullptr;
  QPushButton* btnDoFilter = nullptr;
  QPushButton* btnFilterCancel = nullptr;
  QPushButton* btnStopSearch = nullptr;
  QLabel* lblSearching = nullptr;
  QLabel* lblIndexing = nullptr;
  QProgressBar* pbIndex = nullptr;

signals:
  void SearchClicked();
  void CancelClicked();
  void StopClicked();

private:
  void SetBound(int which, bool set);
  DateTime lowerBound_ = 0, upperBound_ = 0;
  QTimer* tmrFlick_ = nullptr;
  int flick_ = 0;
};

}  // namespace px::search
