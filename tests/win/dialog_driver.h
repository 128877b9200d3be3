#pragma once

// Answers the modal dialogs ("#32770") that code under test opens, the way
// Wine's own dialog tests do: a CBT hook on the UI thread gives each the next
// answer of a script. A dialog with no answer left, an answer left unused, or
// a dialog that will not close fails the test.
//
//   const auto seen = answering({saveAs("Z:\\tmp\\x\\report")}, [] {
//   report::saveKeyReport(nullptr); });
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace dialogs {

inline constexpr int kFileNameBox = 0x47C;   // cmb13, a ComboBoxEx32 in the Explorer-style dialog
inline constexpr int kFileTypeBox = 0x470;   // cmb1
inline constexpr int kMessageText = 0xFFFF;  // the static holding a message box's text

struct Answer {
  bool forFileDialog;
  std::wstring fileName;  // typed before the button is pressed, unless empty
  int button;
};
inline Answer saveAs(std::wstring fileName) { return {true, std::move(fileName), IDOK}; }
inline Answer saveAs(const std::string& fileName) {
  return saveAs(std::wstring(fileName.begin(), fileName.end()));  // ASCII names
}
inline Answer cancelFileDialog() { return {true, {}, IDCANCEL}; }
inline Answer pressButton(int button) { return {false, {}, button}; }

struct SeenDialog {
  bool isFileDialog = false;
  std::string title;
  std::string text;                    // a message box's text
  std::vector<int> buttons;            // a message box's visible buttons, by id, ascending
  int defaultButton = 0;               // the one drawn as the default, 0 if none
  bool hasIcon = false;                // a message box shows an icon beside its text
  std::vector<std::string> fileTypes;  // a file dialog's file-type entries
  HWND owner = nullptr;
  bool ownerEnabled = false;  // a modal dialog disables its owner while it is open
};

namespace detail {

inline LRESULT send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  return SendMessageA(window, message, wParam, lParam);
}

inline std::string textOf(HWND window) {
  char text[512] = {};
  send(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

inline BOOL CALLBACK noteButtonOrIcon(HWND child, LPARAM param) {
  auto& seen = *reinterpret_cast<SeenDialog*>(param);
  char className[16] = {};
  GetClassNameA(child, className, sizeof className);
  if (!IsWindowVisible(child)) return TRUE;
  if (lstrcmpiA(className, "Button") == 0) seen.buttons.push_back(GetDlgCtrlID(child));
  seen.hasIcon |= lstrcmpiA(className, "Static") == 0 &&
                  (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                  send(child, STM_GETICON) != 0;
  return TRUE;
}

inline SeenDialog describe(HWND dialog) {
  SeenDialog seen;
  seen.isFileDialog = GetDlgItem(dialog, kFileNameBox) != nullptr;
  seen.title = textOf(dialog);
  seen.owner = GetWindow(dialog, GW_OWNER);
  seen.ownerEnabled = seen.owner && IsWindowEnabled(seen.owner);
  if (seen.isFileDialog) {
    HWND types = GetDlgItem(dialog, kFileTypeBox);
    for (LRESULT i = 0, count = send(types, CB_GETCOUNT); i < count; ++i) {
      char item[256] = {};
      send(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
      seen.fileTypes.push_back(item);
    }
    return seen;
  }
  seen.text = textOf(GetDlgItem(dialog, kMessageText));
  EnumChildWindows(dialog, noteButtonOrIcon, reinterpret_cast<LPARAM>(&seen));
  std::sort(seen.buttons.begin(), seen.buttons.end());
  // The one drawn as the default: Wine's message box answers DM_GETDEFID with
  // IDOK whatever its buttons.
  for (const int id : seen.buttons) {
    if (!seen.defaultButton && (send(GetDlgItem(dialog, id), WM_GETDLGCODE) & DLGC_DEFPUSHBUTTON)) {
      seen.defaultButton = id;
    }
  }
  return seen;
}

inline bool isDialog(HWND window) {
  char className[16] = {};
  GetClassNameA(window, className, sizeof className);
  return std::string(className) == "#32770";
}

// Posted, not sent: the click may open another modal dialog, which the hook
// must stay free to answer.
inline void click(HWND dialog, int button) {
  if (HWND control = GetDlgItem(dialog, button)) {
    PostMessageA(control, BM_CLICK, 0, 0);
  } else {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
  }
}

// Everything runs on the UI thread, inside the dialogs' own modal loops: a CBT
// hook sees each dialog activated and sets a timer on it; WM_TIMER comes only
// once the dialog has handled everything else queued for it, painting
// included, so the answer reaches a dialog that has settled.
struct Driver {
  std::vector<Answer> script;
  std::size_t next = 0;
  std::vector<SeenDialog> seen;
  std::vector<std::string> problems;
  std::set<HWND> met;
  HHOOK hook = nullptr;
};

inline Driver*& current() {
  static Driver* driver = nullptr;
  return driver;
}

constexpr UINT_PTR kAnswerTimer = 0x7A01;
constexpr UINT_PTR kWatchdogTimer = 0x7A02;
// Only bounds a failure: an answered dialog that is still open this long after
// its answer will never close by itself.
constexpr UINT kWatchdogMs = 15000;

inline void CALLBACK watchdog(HWND dialog, UINT, UINT_PTR id, DWORD) {
  KillTimer(dialog, id);
  current()->problems.push_back("dialog \"" + textOf(dialog) + "\" stayed open after its answer");
  EndDialog(dialog, IDCANCEL);
}

inline void CALLBACK answer(HWND dialog, UINT, UINT_PTR id, DWORD) {
  KillTimer(dialog, id);
  Driver& driver = *current();
  const SeenDialog& now = driver.seen.emplace_back(describe(dialog));
  const std::string which = "\"" + now.title + "\" " + now.text;
  if (driver.next == driver.script.size() ||
      driver.script[driver.next].forFileDialog != now.isFileDialog) {
    driver.problems.push_back(driver.next == driver.script.size()
                                  ? "unexpected dialog " + which
                                  : "answer " + std::to_string(driver.next + 1) +
                                        " met the wrong dialog: " + which);
    EndDialog(dialog, IDCANCEL);
    return;
  }
  const Answer& next = driver.script[driver.next++];
  if (!next.fileName.empty()) {
    // Wide, so that a name outside the system code page reaches the dialog as typed.
    SendMessageW(GetDlgItem(dialog, kFileNameBox), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(next.fileName.c_str()));
  }
  click(dialog, next.button);
  SetTimer(dialog, kWatchdogTimer, kWatchdogMs, watchdog);
}

inline LRESULT CALLBACK onCbt(int code, WPARAM wParam, LPARAM lParam) {
  Driver* driver = current();
  if (code == HCBT_ACTIVATE && driver) {
    const HWND window = reinterpret_cast<HWND>(wParam);
    // A dialog is activated again when a box it opened closes; it is answered once.
    if (isDialog(window) && driver->met.insert(window).second) {
      SetTimer(window, kAnswerTimer, USER_TIMER_MINIMUM, answer);
    }
  }
  return CallNextHookEx(driver ? driver->hook : nullptr, code, wParam, lParam);
}

}  // namespace detail

// Runs `call` on this thread with the dialogs it opens answered by `script`;
// returns what those dialogs showed.
template <typename Call>
std::vector<SeenDialog> answering(std::vector<Answer> script, Call call) {
  detail::Driver driver;
  driver.script = std::move(script);
  driver.hook = SetWindowsHookExW(WH_CBT, detail::onCbt, nullptr, GetCurrentThreadId());
  EXPECT_NE(driver.hook, nullptr) << "SetWindowsHookExW(WH_CBT) failed: " << GetLastError();
  detail::Driver* const outer = std::exchange(detail::current(), &driver);
  call();
  detail::current() = outer;
  if (driver.hook) UnhookWindowsHookEx(driver.hook);
  for (; driver.next < driver.script.size(); ++driver.next) {
    driver.problems.push_back("answer " + std::to_string(driver.next + 1) +
                              " found no dialog to answer");
  }
  for (const auto& problem : driver.problems) ADD_FAILURE() << problem;
  return driver.seen;
}

}  // namespace dialogs
