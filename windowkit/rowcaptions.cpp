#include "windowkit/rowcaptions.h"

#include <QCheckBox>
#include <QHash>
#include <QLabel>
#include <QMouseEvent>

namespace zfuse {

namespace {

// Ticks a check box when its caption is clicked with the left button (pressed and
// released over the caption).
class CaptionClicks : public QObject {
 public:
  using QObject::QObject;
  void add(QLabel* caption, QCheckBox* box) {
    boxes_.insert(caption, box);
    caption->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::MouseButtonRelease) return false;
    auto* caption = static_cast<QLabel*>(watched);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    QCheckBox* box = boxes_.value(caption);
    if (!box || mouse->button() != Qt::LeftButton ||
        !caption->rect().contains(mouse->position().toPoint())) {
      return false;
    }
    if (box->isEnabled()) {
      box->setFocus(Qt::MouseFocusReason);
      box->click();
    }
    return false;
  }

 private:
  QHash<QObject*, QCheckBox*> boxes_;
};

QString captionText(const QLabel* label) {
  return label ? label->text().remove(QLatin1Char(':')).trimmed() : QString();
}

}  // namespace

void linkRowCaptions(std::span<const RowCaption> captions) {
  QHash<QLabel*, int> boxesOfRow;
  for (const RowCaption& c : captions) {
    if (c.row && qobject_cast<QCheckBox*>(c.control)) ++boxesOfRow[c.row];
  }
  CaptionClicks* clicks = nullptr;
  for (const RowCaption& c : captions) {
    if (!c.row) continue;
    if (!c.row->buddy()) c.row->setBuddy(c.control);
    auto* box = qobject_cast<QCheckBox*>(c.control);
    if (!box || boxesOfRow.value(c.row) != 1) continue;
    if (!clicks) clicks = new CaptionClicks(c.control->window());
    clicks->add(c.row, box);
  }
}

void nameFromRowCaptions(std::span<const RowCaption> captions) {
  for (const RowCaption& c : captions) {
    const QString group = captionText(c.group);
    const QString row = captionText(c.row);
    QString name = group;
    if (!group.isEmpty() && !row.isEmpty()) name += QLatin1Char(' ');
    name += row;
    if (c.control->accessibleName() != name) c.control->setAccessibleName(name);
  }
}

}  // namespace zfuse
