#pragma once

// Answers the modal dialogs that code under test opens, unattended: a helper
// thread watches the UI thread's top-level windows, and each dialog ("#32770")
// that appears gets the next answer of a script. Save dialogs are told a file
// name or cancelled; message boxes get a button pressed. What each dialog
// showed is recorded. A dialog with no answer left, or one that will not
// close, is cancelled and reported as a problem, so a test fails rather than
// hangs.
//
//   DialogDriver driver({saveAs("Z:\\tmp\\x\\report"), pressButton(IDOK)});
//   saveKeyReport(nullptr);
//   driver.finish();  // then driver.seen() and driver.problems()

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace dialogs {

inline constexpr int kFileNameBox = 0x47C;   // cmb13, a ComboBoxEx32 in the Explorer-style dialog
inline constexpr int kFileTypeBox = 0x470;   // cmb1
inline constexpr int kMessageText = 0xFFFF;  // the static holding a message box's text

struct Answer {
  enum class Kind { kSaveAs, kCancelFileDialog, kPressButton };
  Kind kind;
  std::string fileName;
  int button = 0;
};

inline Answer saveAs(std::string fileName) {
  return {Answer::Kind::kSaveAs, std::move(fileName), IDOK};
}
inline Answer cancelFileDialog() { return {Answer::Kind::kCancelFileDialog, {}, IDCANCEL}; }
inline Answer pressButton(int button) { return {Answer::Kind::kPressButton, {}, button}; }

struct SeenDialog {
  bool isFileDialog = false;
  std::string title;
  std::string text;                    // a message box's text
  std::vector<int> buttons;            // a message box's buttons, by id, ascending
  int defaultButton = 0;               // the id of a message box's default button, 0 if none
  bool hasIcon = false;                // a message box shows an icon beside its text
  std::vector<std::string> fileTypes;  // a file dialog's file-type entries
  HWND owner = nullptr;
  bool ownerEnabled = false;  // a modal dialog disables its owner while it is open
};

class DialogDriver {
 public:
  // Dialogs appear this long after the call that opens them; answering before
  // the dialog has settled loses the answer.
  static constexpr auto kSettle = std::chrono::milliseconds(250);
  static constexpr auto kCloseTimeout = std::chrono::seconds(15);

  explicit DialogDriver(std::vector<Answer> script, DWORD uiThread = GetCurrentThreadId())
      : script_(std::move(script)), uiThread_(uiThread), watcher_([this] { watch(); }) {}
  ~DialogDriver() { finish(); }
  DialogDriver(const DialogDriver&) = delete;
  DialogDriver& operator=(const DialogDriver&) = delete;

  // Stops watching. Call it once the code under test has returned.
  void finish() {
    if (!watcher_.joinable()) return;
    stop_ = true;
    watcher_.join();
    for (std::size_t i = next_; i < script_.size(); ++i) {
      problems_.push_back("answer " + std::to_string(i + 1) + " found no dialog to answer");
    }
  }

  const std::vector<SeenDialog>& seen() const { return seen_; }
  const std::vector<std::string>& problems() const { return problems_; }

 private:
  // Reads a window's text without waiting forever on a stuck UI thread.
  static std::string textOf(HWND window) {
    if (!window) return {};
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
      return {};
    }
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                             SMTO_ABORTIFHUNG, 5000, &copied)) {
      return {};
    }
    text.resize(copied);
    return text;
  }

  static std::vector<std::string> comboItems(HWND combo) {
    std::vector<std::string> items;
    DWORD_PTR count = 0;
    if (!combo || !SendMessageTimeoutA(combo, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count)) {
      return items;
    }
    for (DWORD_PTR i = 0; i < count && count != static_cast<DWORD_PTR>(CB_ERR); ++i) {
      DWORD_PTR length = 0;
      SendMessageTimeoutA(combo, CB_GETLBTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 5000, &length);
      std::string item(length + 1, '\0');
      DWORD_PTR copied = 0;
      SendMessageTimeoutA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&item[0]),
                          SMTO_ABORTIFHUNG, 5000, &copied);
      item.resize(std::min<std::size_t>(copied, length));
      items.push_back(item);
    }
    return items;
  }

  // The ids of the visible push buttons in a dialog, ascending.
  static std::vector<int> buttonsOf(HWND dialog) {
    std::vector<int> ids;
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM param) -> BOOL {
          char className[16] = {};
          GetClassNameA(child, className, sizeof className);
          if (lstrcmpiA(className, "Button") == 0 && IsWindowVisible(child)) {
            reinterpret_cast<std::vector<int>*>(param)->push_back(GetDlgCtrlID(child));
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&ids));
    std::sort(ids.begin(), ids.end());
    return ids;
  }

  static bool showsIcon(HWND dialog) {
    bool found = false;
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM param) -> BOOL {
          char className[16] = {};
          GetClassNameA(child, className, sizeof className);
          const LONG style = GetWindowLongA(child, GWL_STYLE);
          DWORD_PTR icon = 0;
          if (lstrcmpiA(className, "Static") == 0 && IsWindowVisible(child) &&
              (style & SS_TYPEMASK) == SS_ICON &&
              SendMessageTimeoutA(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &icon) &&
              icon) {
            *reinterpret_cast<bool*>(param) = true;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
  }

  // The button that Enter presses: the one drawn as the default. (DM_GETDEFID
  // is no help: Wine's message box answers IDOK whatever its buttons.)
  static int defaultButtonOf(HWND dialog, const std::vector<int>& buttons) {
    for (const int id : buttons) {
      DWORD_PTR code = 0;
      if (SendMessageTimeoutA(GetDlgItem(dialog, id), WM_GETDLGCODE, 0, 0, SMTO_ABORTIFHUNG, 5000,
                              &code) &&
          (code & DLGC_DEFPUSHBUTTON)) {
        return id;
      }
    }
    return 0;
  }

  HWND findDialog() const {
    HWND found = nullptr;
    EnumThreadWindows(
        uiThread_,
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

  bool waitUntilClosed(HWND dialog) const {
    const auto deadline = std::chrono::steady_clock::now() + kCloseTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (!IsWindow(dialog) || !IsWindowVisible(dialog)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // Posted, not sent: the click may open another modal dialog, which this
  // thread must stay free to answer.
  static void click(HWND dialog, int button) {
    HWND control = GetDlgItem(dialog, button);
    if (control) {
      PostMessageA(control, BM_CLICK, 0, 0);
    } else {
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    }
  }

  void answer(HWND dialog, const SeenDialog& seen) {
    if (next_ >= script_.size()) {
      problems_.push_back("unexpected dialog \"" + seen.title + "\" " + seen.text);
      click(dialog, IDCANCEL);
      return;
    }
    const Answer& answer = script_[next_++];
    const bool forFileDialog = answer.kind != Answer::Kind::kPressButton;
    if (forFileDialog != seen.isFileDialog) {
      problems_.push_back("answer " + std::to_string(next_) + " met the wrong kind of dialog: \"" +
                          seen.title + "\" " + seen.text);
      click(dialog, IDCANCEL);
      return;
    }
    if (answer.kind == Answer::Kind::kSaveAs) {
      DWORD_PTR ignored = 0;
      SendMessageTimeoutA(GetDlgItem(dialog, kFileNameBox), WM_SETTEXT, 0,
                          reinterpret_cast<LPARAM>(answer.fileName.c_str()), SMTO_ABORTIFHUNG, 5000,
                          &ignored);
    }
    click(dialog, answer.button);
  }

  void watch() {
    while (!stop_) {
      HWND dialog = findDialog();
      if (!dialog) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        continue;
      }
      std::this_thread::sleep_for(kSettle);
      SeenDialog seen;
      seen.isFileDialog = GetDlgItem(dialog, kFileNameBox) != nullptr;
      seen.title = textOf(dialog);
      seen.owner = GetWindow(dialog, GW_OWNER);
      seen.ownerEnabled = seen.owner && IsWindowEnabled(seen.owner);
      if (seen.isFileDialog) {
        seen.fileTypes = comboItems(GetDlgItem(dialog, kFileTypeBox));
      } else {
        seen.text = textOf(GetDlgItem(dialog, kMessageText));
        seen.buttons = buttonsOf(dialog);
        seen.defaultButton = defaultButtonOf(dialog, seen.buttons);
        seen.hasIcon = showsIcon(dialog);
      }
      seen_.push_back(seen);
      answer(dialog, seen);
      if (waitUntilClosed(dialog)) continue;
      problems_.push_back("dialog \"" + seen.title + "\" stayed open after its answer");
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      PostMessageA(dialog, WM_CLOSE, 0, 0);
      if (!waitUntilClosed(dialog)) {
        // Nothing more can be done from here; end the run loudly instead of
        // leaving the test hanging on a modal loop.
        std::fprintf(stderr, "dialog \"%s\" cannot be closed; giving up\n", seen.title.c_str());
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
      }
    }
  }

  std::vector<Answer> script_;
  std::size_t next_ = 0;
  std::vector<SeenDialog> seen_;
  std::vector<std::string> problems_;
  DWORD uiThread_;
  std::atomic<bool> stop_{false};
  std::thread watcher_;  // last: starts once everything above is ready
};

}  // namespace dialogs
