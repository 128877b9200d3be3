#include "ui/layout.h"

#include <iterator>

namespace ui::layout {

namespace {

// Ids number the table's rows, so that a control's row is found by its id.
constexpr bool idsNumberTheRows() {
  for (std::size_t row = 0; row < std::size(kControls); ++row) {
    if (static_cast<std::size_t>(kControls[row].id) != row) return false;
  }
  return true;
}
static_assert(idsNumberTheRows(), "kControls must list the controls in ControlId order");

}  // namespace

const ControlSpec& specOf(ControlId id) { return kControls[static_cast<std::size_t>(id)]; }

int toPixels(int twips, int dpi) { return MulDiv(twips, dpi, 1440); }

RECT toPixels(const ControlSpec& row, int dpi) {
  const int left = toPixels(row.left, dpi);
  const int top = toPixels(row.top, dpi);
  return {left, top, left + toPixels(row.width, dpi), top + toPixels(row.height, dpi)};
}

int fontHeight(int centipoints, int dpi) { return -MulDiv(centipoints, dpi, 7200); }

COLORREF resolveColour(std::uint32_t colour) {
  if (colour & kSystemColourFlag) return GetSysColor(static_cast<int>(colour & 0xFF));
  return colour;
}

}  // namespace ui::layout
