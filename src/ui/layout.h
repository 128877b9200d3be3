#pragma once

#include <windows.h>

#include <cstdint>

// The main window described as data, in the units it is designed in: twips
// (1/1440 inch) from the client area's top-left, and colours as 0x00BBGGRR
// where a set top bit names a system colour by index.
namespace ui::layout {

enum class ControlId {
  txtKey,
  txtVer,
  cmdPrint,
  cmdSave,
  cmdCopy,
  lblURL,
  lblKey,
  lblVer,
  lblTitle,
  Label2,
  Label1
};
enum class ControlKind { textBox, pushButton, label };

// Size in hundredths of a point; 0 means the control has no font of its own.
struct FontSpec {
  int centipoints;
  bool bold;
  bool underline;
};

inline constexpr std::uint32_t kSystemColourFlag = 0x80000000u;
inline constexpr std::uint32_t kHighlight = kSystemColourFlag | COLOR_HIGHLIGHT;  // 0x8000000D
inline constexpr std::uint32_t kButtonText = kSystemColourFlag | COLOR_BTNTEXT;
inline constexpr std::uint32_t kLightGrey = 0x00E0E0E0;

struct Colours {
  std::uint32_t text;
  std::uint32_t back;
  bool opaque;  // a transparent label lets what lies beneath show through
};

// The maker's web site: shown as the link's caption and opened on a click.
inline constexpr wchar_t kMakerSite[] = L"www.example.com";

struct ControlSpec {
  ControlId id;
  ControlKind kind;
  const wchar_t* text;
  int left, top, width, height;
  FontSpec font;
  Colours colours;
  int tabIndex;
  bool pointingHand;
};

// Front to back: each control is drawn beneath the ones before it.
// clang-format off
inline constexpr ControlSpec kControls[] = {
    {ControlId::txtKey, ControlKind::textBox, L"", 2160, 1920, 3735, 375, {825, false, false}, {}, 0, false},
    {ControlId::txtVer, ControlKind::textBox, L"Microsoft Exchange", 2160, 1200, 3735, 375, {825, false, false}, {}, 8, false},
    {ControlId::cmdPrint, ControlKind::pushButton, L"Print", 240, 1920, 1575, 255, {825, true, false}, {}, 3, false},
    {ControlId::cmdSave, ControlKind::pushButton, L"Save", 240, 1560, 1575, 255, {825, true, false}, {}, 2, false},
    {ControlId::cmdCopy, ControlKind::pushButton, L"Copy", 240, 1200, 1575, 255, {825, true, false}, {}, 1, false},
    {ControlId::lblURL, ControlKind::label, kMakerSite, 3960, 480, 1935, 255, {825, false, true}, {kLightGrey, 0, false}, 9, true},
    {ControlId::lblKey, ControlKind::label, L"CD Key", 2160, 1680, 852, 252, {825, true, false}, {kButtonText, 0, false}, 7, false},
    {ControlId::lblVer, ControlKind::label, L"Product", 2160, 960, 1932, 252, {825, true, false}, {kButtonText, 0, false}, 6, false},
    {ControlId::lblTitle, ControlKind::label, L"Microsoft Exchange Tamsket", 120, 120, 5775, 735, {1425, false, false}, {kLightGrey, 0, false}, 5, false},
    {ControlId::Label2, ControlKind::label, L"", -480, -120, 7935, 735, {1575, false, false}, {kButtonText, 0, false}, 4, false},
    {ControlId::Label1, ControlKind::label, L"", 0, 0, 6135, 735, {0, false, false}, {kButtonText, kHighlight, true}, 10, false},
};
// clang-format on

// A label without a caption draws no text: it gets no font.
constexpr bool needsFont(const ControlSpec& row) {
  return row.font.centipoints > 0 && (row.kind != ControlKind::label || (row.text && *row.text));
}
static_assert(!needsFont(kControls[static_cast<int>(ControlId::Label2)]),
              "Label2 draws nothing and needs no font");

// The dialog manager tabs through the windowed controls in the order of
// their tab indexes: two with the same index would lose one of them.
constexpr bool tabIndexesAreDistinct() {
  for (const auto& a : kControls) {
    for (const auto& b : kControls) {
      if (&a != &b && a.kind != ControlKind::label && b.kind != ControlKind::label &&
          a.tabIndex == b.tabIndex) {
        return false;
      }
    }
  }
  return true;
}
static_assert(tabIndexesAreDistinct(), "two windowed controls share a tab index");

inline constexpr int kClientWidth = 6120;
inline constexpr int kClientHeight = 2795;
inline constexpr std::uint32_t kBackground = kLightGrey;
inline constexpr wchar_t kFontFace[] = L"Verdana";

const ControlSpec& specOf(ControlId id);
// Twips to pixels at the given dots per inch (15 twips a pixel at 96).
int toPixels(int twips, int dpi);
RECT toPixels(const ControlSpec& row, int dpi);
// Font height in logical units for a size in hundredths of a point.
int fontHeight(int centipoints, int dpi);
COLORREF resolveColour(std::uint32_t colour);

}  // namespace ui::layout
