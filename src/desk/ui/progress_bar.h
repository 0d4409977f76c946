#pragma once
// TPXProgressBar: the small framed bar of the mail transfers with its centred caption
// ("25% (1K of 2K)"). The numbers live in ProgressModel; this only paints.
#include "desk/progress_caption.h"

#include <QColor>
#include <QWidget>

namespace px::desk {

class TPXProgressBar : public QWidget {
  Q_OBJECT
public:
  explicit TPXProgressBar(QWidget* parent = nullptr);

  const ProgressModel& Model() const { return model_; }
  void SetRange(int64_t min, int64_t max);
  // Repaints only when what is shown changes, so a fast stream of positions costs nothing.
  void SetPosition(int64_t value);
  void SetShowText(bool value);
  void SetBarColor(const QColor& c);
  QString CaptionText() const { return QString::fromStdString(model_.Caption()); }
  // Paints done since creation (tests check that unchanged positions do not repaint).
  int PaintCount() const { return paints_; }

  QSize sizeHint() const override { return {100, 17}; }

protected:
  void paintEvent(QPaintEvent* e) override;

private:
  void UpdateIfChanged(const std::string& before, int barBefore);
  ProgressModel model_;
  QColor bar_;
  int paints_ = 0;
};

}  // namespace px::desk
