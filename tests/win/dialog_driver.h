#pragma once

// Answers the modal dialogs ("#32770") that code under test opens: a helper
// thread gives each the next answer of a script. A dialog with no answer left,
// an answer left unused, or a dialog that will not close fails the test.
//
//   const auto seen = answering({saveAs("Z:\\tmp\\x\\report")}, [] { saveKeyReport(nullptr); });
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace dialogs {

inline constexpr int kFileNameBox = 0x47C;   // cmb13, a ComboBoxEx32 in the Explorer-style dialog
inline constexpr int kFileTypeBox = 0x470;   // cmb1
inline constexpr int kMessageText = 0xFFFF;  // the static holding a message box's text

struct Answer {
  bool forFileDialog;
  std::string fileName;  // typed before the button is pressed, unless empty
  int button;
};
inline Answer saveAs(std::string fileName) { return {true, std::move(fileName), IDOK}; }
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

// With a time limit, so that a UI thread that has left its modal loop cannot
// stall the watcher.
inline LRESULT send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result);
  return static_cast<LRESULT>(result);
}

inline std::string textOf(HWND window) {
  char text[512] = {};
  send(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
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
  EnumChildWindows(
      dialog,
      [](HWND child, LPARAM param) -> BOOL {
        auto& seen = *reinterpret_cast<SeenDialog*>(param);
        char className[16] = {};
        GetClassNameA(child, className, sizeof className);
        if (!IsWindowVisible(child)) return TRUE;
        if (lstrcmpiA(className, "Button") == 0) seen.buttons.push_back(GetDlgCtrlID(child));
        seen.hasIcon |= lstrcmpiA(className, "Static") == 0 &&
                        (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                        send(child, STM_GETICON) != 0;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&seen));
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

inline HWND findDialog(DWORD thread) {
  HWND found = nullptr;
  EnumThreadWindows(
      thread,
      [](HWND window, LPARAM param) -> BOOL {
        char className[16] = {};
        GetClassNameA(window, className, sizeof className);
        if (std::string(className) != "#32770" || !IsWindowVisible(window)) return TRUE;
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// Posted, not sent: the click may open another modal dialog, which the
// watcher must stay free to answer.
inline void click(HWND dialog, int button) {
  if (HWND control = GetDlgItem(dialog, button)) {
    PostMessageA(control, BM_CLICK, 0, 0);
  } else {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
  }
}

}  // namespace detail

// Runs `call` with the dialogs it opens answered by `script`; returns what
// those dialogs showed.
template <typename Call>
std::vector<SeenDialog> answering(std::vector<Answer> script, Call call) {
  std::vector<SeenDialog> seen;
  std::vector<std::string> problems;
  std::size_t next = 0;
  std::atomic<bool> stop{false};
  std::thread watcher([&, uiThread = GetCurrentThreadId()] {
    while (!stop) {
      HWND dialog = detail::findDialog(uiThread);
      if (!dialog) {
        Sleep(20);
        continue;
      }
      Sleep(250);  // answered before it has settled, a dialog loses the answer
      const SeenDialog& now = seen.emplace_back(detail::describe(dialog));
      const std::string which = "\"" + now.title + "\" " + now.text;
      if (next == script.size() || script[next].forFileDialog != now.isFileDialog) {
        problems.push_back((next == script.size() ? "unexpected dialog "
                                                  : "answer " + std::to_string(next + 1) +
                                                        " met the wrong dialog: ") +
                           which);
        detail::click(dialog, IDCANCEL);
      } else {
        const Answer& answer = script[next++];
        if (!answer.fileName.empty()) {
          detail::send(GetDlgItem(dialog, kFileNameBox), WM_SETTEXT, 0,
                       reinterpret_cast<LPARAM>(answer.fileName.c_str()));
        }
        detail::click(dialog, answer.button);
      }
      for (int wait = 0; IsWindowVisible(dialog) && wait < 750; ++wait) Sleep(20);
      if (IsWindowVisible(dialog)) {
        problems.push_back("dialog " + which + " stayed open after its answer");
        detail::click(dialog, IDCANCEL);
      }
    }
  });
  call();
  stop = true;
  watcher.join();
  for (; next < script.size(); ++next) {
    problems.push_back("answer " + std::to_string(next + 1) + " found no dialog to answer");
  }
  for (const auto& problem : problems) ADD_FAILURE() << problem;
  return seen;
}

}  // namespace dialogs
