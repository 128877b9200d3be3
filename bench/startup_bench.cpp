// Start-up time: from process creation to a visible window whose first text
// box holds a 29-character key, for tamsket.exe and for a minimal window
// program, launched in turns so both see the same conditions.
//   startup_bench TAMSKET_EXE MINIMAL_EXE [RUNS]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double now() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Search {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK findVisibleWindow(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<Search*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

// Seconds until the program shows its key, or a negative number on failure.
double timeToKey(const std::string& exe) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string commandLine = "\"" + exe + "\"";
  const double start = now();
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return -1;
  }
  double elapsed = -1;
  Search search{process.dwProcessId, nullptr};
  while (now() - start < 20) {
    search.found = nullptr;
    EnumWindows(findVisibleWindow, reinterpret_cast<LPARAM>(&search));
    HWND edit = search.found ? FindWindowExW(search.found, nullptr, L"Edit", nullptr) : nullptr;
    if (edit && SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0) == 29) {
      elapsed = now() - start;
      break;
    }
    Sleep(1);
  }
  if (search.found) PostMessageW(search.found, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process.hProcess, 5000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return elapsed;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s TAMSKET_EXE MINIMAL_EXE [RUNS]\n", argv[0]);
    return 2;
  }
  const int runs = argc > 3 ? std::atoi(argv[3]) : 15;
  std::vector<double> tamsket, minimal;
  timeToKey(argv[1]);  // warm the file cache for both
  timeToKey(argv[2]);
  for (int i = 0; i < runs; ++i) {
    // Alternating which goes first cancels out what one run leaves the next.
    const bool tamsketFirst = i % 2 == 0;
    const double first = timeToKey(argv[tamsketFirst ? 1 : 2]);
    const double second = timeToKey(argv[tamsketFirst ? 2 : 1]);
    const double a = tamsketFirst ? first : second;
    const double b = tamsketFirst ? second : first;
    if (a < 0 || b < 0) {
      std::fprintf(stderr, "run %d: a program did not show its key\n", i);
      return 1;
    }
    tamsket.push_back(a);
    minimal.push_back(b);
  }
  const double t = median(tamsket), m = median(minimal);
  std::printf(
      "start-up to key shown, median of %d runs: tamsket %.1f ms, minimal window %.1f ms, "
      "ratio %.2f\n",
      runs, t * 1000, m * 1000, t / m);
  return 0;
}
