#pragma once
// TfrmHint: the information pop-up, a borderless window that never takes the focus. It draws a
// HintContent (desk/hint_builder): the label column lblHead beside the text lblHint in pnlHint,
// and the sticker note in pnlSticker, placed by PlaceHint and cut to fit.
#include "desk/hint_builder.h"

#include <QFrame>
#include <QRect>

class QLabel;

namespace px::desk {

class TfrmHint : public QFrame {
  Q_OBJECT
public:
  explicit TfrmHint(QWidget* owner = nullptr);

  // Shows content next to the row (screen coordinates); wrapWidth limits the text column
  // (0: no limit). above: above the row.
  void ShowFor(HintContent content, const QRect& row, int left, int wrapWidth, bool above);
  // The window's Tag: 2 while it shows grid information.
  int Tag() const { return tag_; }
  // What is shown now (tests).
  const HintContent& Content() const { return content_; }

  QFrame* pnlHint = nullptr;
  QLabel* lblHead = nullptr;
  QLabel* lblHint = nullptr;
  QFrame* pnlSticker = nullptr;
  QLabel* lblSticker = nullptr;

private:
  void Fill();
  void FitSize();
  HintContent content_;
  int tag_ = 0;
};

}  // namespace px::desk
