#include "desk/grid_keys.h"

#include <algorithm>

namespace px::desk {

namespace {
std::vector<bool> SelectionOf(const GridModel& m) {
  std::vector<bool> out(m.size());
  for (size_t i = 0; i < m.size(); ++i) out[i] = m.rows()[i].selected;
  return out;
}
}  // namespace

GridKeyOutcome ApplyGridKey(GridModel& m, GridCursor& c, GridKey key, bool shift, bool ctrl, int pageRows) {
  GridKeyOutcome out;
  const int count = static_cast<int>(m.VisibleCount());
  if (count == 0) {
    c = {};
    return out;
  }
  if (c.current >= count) c.current = count - 1;
  if (c.anchor >= count) c.anchor = -1;
  const std::vector<bool> before = SelectionOf(m);

  if (key == GridKey::Enter) {
    // The selected row opens: the current one when it is selected, else the first selected;
    // with nothing selected, the current row.
    if (c.current >= 0 && m.rows()[m.RecordOfVisible(static_cast<size_t>(c.current))].selected) {
      out.open = static_cast<int>(m.RecordOfVisible(static_cast<size_t>(c.current)));
      return out;
    }
    for (int v = 0; v < count; ++v)
      if (m.rows()[m.RecordOfVisible(static_cast<size_t>(v))].selected) {
        out.open = static_cast<int>(m.RecordOfVisible(static_cast<size_t>(v)));
        return out;
      }
    if (c.current >= 0) out.open = static_cast<int>(m.RecordOfVisible(static_cast<size_t>(c.current)));
    return out;
  }
  if (key == GridKey::Space) {
    if (c.current < 0) c.current = 0;
    const size_t rec = m.RecordOfVisible(static_cast<size_t>(c.current));
    m.SetSelected(rec, !m.rows()[rec].selected);
    c.anchor = c.current;
    out.selectionChanged = true;
    return out;
  }

  const int page = std::max(1, pageRows);
  int target = c.current;
  switch (key) {
    case GridKey::Up: target = c.current < 0 ? 0 : c.current - 1; break;
    case GridKey::Down: target = c.current < 0 ? 0 : c.current + 1; break;
    case GridKey::PageUp: target = c.current < 0 ? 0 : c.current - page; break;
    case GridKey::PageDown: target = c.current < 0 ? 0 : c.current + page; break;
    case GridKey::Home: target = 0; break;
    case GridKey::End: target = count - 1; break;
    default: break;
  }
  target = std::clamp(target, 0, count - 1);
  if (shift) {
    if (c.anchor < 0) c.anchor = c.current >= 0 ? c.current : target;
    if (!ctrl) m.ClearSelection();
    const int from = std::min(c.anchor, target), to = std::max(c.anchor, target);
    for (int v = from; v <= to; ++v) m.SetSelected(m.RecordOfVisible(static_cast<size_t>(v)), true);
  } else if (!ctrl) {
    m.ClearSelection();
    m.SetSelected(m.RecordOfVisible(static_cast<size_t>(target)), true);
    c.anchor = target;
  }
  c.current = target;
  out.selectionChanged = SelectionOf(m) != before;
  return out;
}

}  // namespace px::desk
