#include "search/ui/pnl_filter.h"

#include "foundation/dates.h"

#include <algorithm>
#include <climits>

#include <QButtonGroup>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

namespace px::search {
namespace {

QFrame* bevel(QWidget* parent) {
  auto* f = new QFrame(parent);
  f->setFrameShape(QFrame::VLine);
  f->setFrameShadow(QFrame::Sunken);
  return f;
}

QPushButton* button(const QString& text, const char* name, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(name);
  return b;
}

template <typename W>
W* named(W* w, const char* name) {
  w->setObjectName(name);
  return w;
}

}  // namespace

TpnlFilter::TpnlFilter(QWidget* parent) : QFrame(parent) {
  setObjectName("pnlFilter");
  setFrameShape(QFrame::StyledPanel);
  auto* row = new QHBoxLayout(this);

  // Dates
  auto* dates = new QGridLayout;
  const int year = QDate::currentDate().year();
  cbFilterYear = named(new QComboBox(this), "cbFilterYear");
  cbFilterYear->setEditable(true);
  for (int y = year - 3; y <= year + 3; ++y) cbFilterYear->addItem(QString::number(y));
  cbFilterYear->setCurrentText(QString::number(year));
  cbFilterMonth = named(new QComboBox(this), "cbFilterMonth");
  for (int m = 1; m <= 12; ++m) cbFilterMonth->addItem(QLocale().monthName(m, QLocale::ShortFormat));
  cbFilterMonth->setCurrentIndex(QDate::currentDate().month() - 1);
  FilterCalendar = named(new QCalendarWidget(this), "FilterCalendar");
  FilterCalendar->setGridVisible(false);
  FilterCalendar->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
  btnFilterDate1 = button("->", "btnFilterDate1", this);
  edtFilterDate1 = named(new QLineEdit(this), "edtFilterDate1");
  edtFilterDate1->setReadOnly(true);
  btnFilterDate1Clear = button("Clear", "btnFilterDate1Clear", this);
  btnFilterDate2 = button("->", "btnFilterDate2", this);
  edtFilterDate2 = named(new QLineEdit(this), "edtFilterDate2");
  edtFilterDate2->setReadOnly(true);
  btnFilterDate2Clear = button("Clear", "btnFilterDate2Clear", this);
  dates->addWidget(new QLabel("Date", this), 0, 0);
  dates->addWidget(new QLabel("Year", this), 0, 1);
  dates->addWidget(cbFilterYear, 0, 2);
  dates->addWidget(new QLabel("Month", this), 0, 3);
  dates->addWidget(cbFilterMonth, 0, 4);
  dates->addWidget(FilterCalendar, 1, 0, 1, 5);
  dates->addWidget(btnFilterDate1, 2, 0);
  dates->addWidget(edtFilterDate1, 2, 1, 1, 2);
  dates->addWidget(new QLabel("or later", this), 2, 3);
  dates->addWidget(btnFilterDate1Clear, 2, 4);
  dates->addWidget(btnFilterDate2, 3, 0);
  dates->addWidget(edtFilterDate2, 3, 1, 1, 2);
  dates->addWidget(new QLabel("or earlier", this), 3, 3);
  dates->addWidget(btnFilterDate2Clear, 3, 4);
  row->addLayout(dates);
  row->addWidget(bevel(this));

  // Keywords
  auto* kw = new QVBoxLayout;
  kw->addWidget(new QLabel("Keywords", this));
  auto* kwLine = new QHBoxLayout;
  edtFilterKeywords = named(new QLineEdit(this), "edtFilterKeywords");
  btnFilterKeywordsClear = button("Clear", "btnFilterKeywordsClear", this);
  kwLine->addWidget(edtFilterKeywords, 1);
  kwLine->addWidget(btnFilterKeywordsClear);
  kw->addLayout(kwLine);
  rbFilterKeywordsAnd = named(new QRadioButton("All keywords", this), "rbFilterKeywordsAnd");
  rbFilterKeywordsOr = named(new QRadioButton("Any keywords", this), "rbFilterKeywordsOr");
  rbFilterKeywordsAnd->setChecked(true);
  auto* kwGroup = new QButtonGroup(this);
  kwGroup->addButton(rbFilterKeywordsAnd);
  kwGroup->addButton(rbFilterKeywordsOr);
  auto* kwAnyAll = new QHBoxLayout;
  kwAnyAll->addWidget(rbFilterKeywordsAnd);
  kwAnyAll->addWidget(rbFilterKeywordsOr);
  kw->addLayout(kwAnyAll);
  cbSearchWords = named(new QCheckBox("Whole words only", this), "cbSearchWords");
  cbSearchCase = named(new QCheckBox("Case sensitive", this), "cbSearchCase");
  cbSearchInside = named(new QCheckBox("Search inside files", this), "cbSearchInside");
  cbSearchBundles = named(new QCheckBox("Display messages and attachments together", this), "cbSearchBundles");
  cbSearchBundles->setChecked(true);
  cbSearchFolders = named(new QCheckBox("Search in subfolders", this), "cbSearchFolders");
  cbSearchCombined = named(new QCheckBox("Combine results", this), "cbSearchCombined");
  cbSearchCombined->setVisible(false);
  for (QWidget* w : {static_cast<QWidget*>(cbSearchWords), static_cast<QWidget*>(cbSearchCase),
                     static_cast<QWidget*>(cbSearchInside), static_cast<QWidget*>(cbSearchBundles),
                     static_cast<QWidget*>(cbSearchFolders), static_cast<QWidget*>(cbSearchCombined)})
    kw->addWidget(w);
  auto* buttons = new QHBoxLayout;
  lblSearching = named(new QLabel("Searching...", this), "lblSearching");
  lblSearching->setVisible(false);
  btnDoFilter = button("Search", "btnDoFilter", this);
  btnDoFilter->setDefault(true);
  btnFilterCancel = button("Cancel", "btnFilterCancel", this);
  btnStopSearch = button("Stop", "btnStopSearch", this);
  btnStopSearch->setVisible(false);
  buttons->addWidget(lblSearching, 1);
  buttons->addWidget(btnDoFilter);
  buttons->addWidget(btnStopSearch);
  buttons->addWidget(btnFilterCancel);
  // The index being built: its progress, shown only while it runs.
  auto* indexing = new QHBoxLayout;
  lblIndexing = named(new QLabel("Indexing documents", this), "lblIndexing");
  pbIndex = named(new QProgressBar(this), "pbIndex");
  pbIndex->setTextVisible(true);
  pbIndex->setFormat("%v / %m folders");
  lblIndexing->setVisible(false);
  pbIndex->setVisible(false);
  indexing->addWidget(lblIndexing);
  indexing->addWidget(pbIndex, 1);
  kw->addStretch(1);
  kw->addLayout(indexing);
  kw->addLayout(buttons);
  row->addLayout(kw, 1);
  row->addWidget(bevel(this));

  // Addresses
  auto* ad = new QVBoxLayout;
  ad->addWidget(new QLabel("Address", this));
  auto* adLine = new QHBoxLayout;
  edtFilterAddress = named(new QLineEdit(this), "edtFilterAddress");
  btnFilterAddressClear = button("Clear", "btnFilterAddressClear", this);
  adLine->addWidget(edtFilterAddress, 1);
  adLine->addWidget(btnFilterAddressClear);
  ad->addLayout(adLine);
  rbFilterAddressAnd = named(new QRadioButton("All addresses", this), "rbFilterAddressAnd");
  rbFilterAddressOr = named(new QRadioButton("Any addresses", this), "rbFilterAddressOr");
  rbFilterAddressAnd->setChecked(true);
  auto* adGroup = new QButtonGroup(this);
  adGroup->addButton(rbFilterAddressAnd);
  adGroup->addButton(rbFilterAddressOr);
  auto* adAnyAll = new QHBoxLayout;
  adAnyAll->addWidget(rbFilterAddressAnd);
  adAnyAll->addWidget(rbFilterAddressOr);
  ad->addLayout(adAnyAll);
  auto* ignore = new QGridLayout;
  ignore->addWidget(new QLabel("Ignore:", this), 0, 0);
  cbSearchIgnoreFrom = named(new QCheckBox("From", this), "cbSearchIgnoreFrom");
  cbSearchIgnoreTo = named(new QCheckBox("To", this), "cbSearchIgnoreTo");
  cbSearchIgnoreCc = named(new QCheckBox("Cc", this), "cbSearchIgnoreCc");
  cbSearchIgnoreBcc = named(new QCheckBox("Bcc", this), "cbSearchIgnoreBcc");
  ignore->addWidget(cbSearchIgnoreFrom, 0, 1);
  ignore->addWidget(cbSearchIgnoreCc, 0, 2);
  ignore->addWidget(cbSearchIgnoreTo, 1, 1);
  ignore->addWidget(cbSearchIgnoreBcc, 1, 2);
  ad->addLayout(ignore);
  ad->addStretch(1);
  row->addLayout(ad, 1);

  // Behaviour
  connect(cbFilterYear, &QComboBox::currentTextChanged, this, [this](const QString& t) {
    bool ok = false;
    const int y = t.toInt(&ok);
    FilterCalendar->setCurrentPage(ok ? y : 0, cbFilterMonth->currentIndex() + 1);
  });
  connect(cbFilterMonth, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int m) {
    FilterCalendar->setCurrentPage(FilterCalendar->yearShown(), m + 1);
  });
  FilterCalendar->setCurrentPage(year, cbFilterMonth->currentIndex() + 1);
  connect(btnFilterDate1, &QPushButton::clicked, this, [this] { SetBound(1, true); });
  connect(btnFilterDate2, &QPushButton::clicked, this, [this] { SetBound(2, true); });
  connect(btnFilterDate1Clear, &QPushButton::clicked, this, [this] { SetBound(1, false); });
  connect(btnFilterDate2Clear, &QPushButton::clicked, this, [this] { SetBound(2, false); });
  connect(btnFilterKeywordsClear, &QPushButton::clicked, this, [this] {
    edtFilterKeywords->clear();
    edtFilterKeywords->setFocus();
  });
  connect(btnFilterAddressClear, &QPushButton::clicked, this, [this] {
    edtFilterAddress->clear();
    edtFilterAddress->setFocus();
  });
  connect(cbSearchFolders, &QCheckBox::toggled, cbSearchCombined, &QWidget::setVisible);
  connect(edtFilterKeywords, &QLineEdit::returnPressed, this, &TpnlFilter::SearchClicked);
  connect(edtFilterAddress, &QLineEdit::returnPressed, this, &TpnlFilter::SearchClicked);
  connect(btnDoFilter, &QPushButton::clicked, this, &TpnlFilter::SearchClicked);
  connect(btnFilterCancel, &QPushButton::clicked, this, &TpnlFilter::CancelClicked);
  connect(btnStopSearch, &QPushButton::clicked, this, &TpnlFilter::StopClicked);
  tmrFlick_ = new QTimer(this);
  tmrFlick_->setInterval(200);
  connect(tmrFlick_, &QTimer::timeout, this, [this] {
    flick_ = (flick_ + 1) % 4;
    lblSearching->setText(QStringLiteral("Searching") + QString(flick_, QLatin1Char('.')));
  });
}

void TpnlFilter::SetBound(int which, bool set) {
  DateTime& bound = which == 1 ? lowerBound_ : upperBound_;
  QLineEdit* edit = which == 1 ? edtFilterDate1 : edtFilterDate2;
  if (set) {
    const QDate d = FilterCalendar->selectedDate();
    bound = MakeDateTime(d.year(), d.month(), d.day());
    edit->setText(QLocale().toString(d, QLocale::ShortFormat));
  } else {
    bound = 0;
    edit->clear();
    FilterCalendar->setFocus();
  }
}

FilterPanelState TpnlFilter::State() const {
  FilterPanelState s;
  s.lowerBound = lowerBound_;
  s.upperBound = upperBound_;
  s.keywordText = edtFilterKeywords->text().toStdString();
  s.addressText = edtFilterAddress->text().toStdString();
  s.wholeWords = cbSearchWords->isChecked();
  s.caseSensitive = cbSearchCase->isChecked();
  s.searchInside = cbSearchInside->isChecked();
  s.anyKeyword = rbFilterKeywordsOr->isChecked();
  s.bundles = cbSearchBundles->isChecked();
  s.subfolders = cbSearchFolders->isChecked();
  s.combine = cbSearchCombined->isChecked();
  s.ignoreFrom = cbSearchIgnoreFrom->isChecked();
  s.ignoreTo = cbSearchIgnoreTo->isChecked();
  s.ignoreCc = cbSearchIgnoreCc->isChecked();
  s.ignoreBcc = cbSearchIgnoreBcc->isChecked();
  s.anyAddress = rbFilterAddressOr->isChecked();
  return s;
}

void TpnlFilter::ShowSearching(bool on) {
  btnDoFilter->setVisible(!on);
  btnStopSearch->setVisible(on);
  lblSearching->setVisible(on);
  if (on) {
    flick_ = 0;
    lblSearching->setText("Searching...");
    tmrFlick_->start();
  } else {
    tmrFlick_->stop();
  }
}

void TpnlFilter::SetStatusText(const QString& text) { lblSearching->setText(text); }

void TpnlFilter::ShowIndexing(qint64 done, qint64 total) {
  const bool on = total > 0 && done < total;
  lblIndexing->setVisible(on);
  pbIndex->setVisible(on);
  if (!on) return;
  pbIndex->setRange(0, static_cast<int>(std::min<qint64>(total, INT_MAX)));
  pbIndex->setValue(static_cast<int>(std::min<qint64>(done, INT_MAX)));
}

}  // namespace px::search
