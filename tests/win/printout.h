#pragma once

// Printed pages: the CUPS queue turns each job into a PDF in TAMSKET_PDF_DIR;
// a test finds the one its job became and leaves a record of what it should
// show, which check_printout.py compares with the page once the test has ended.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "win/win_test_support.h"

namespace printout {

inline std::optional<std::string> defaultPrinter() {
  char name[256];
  DWORD size = sizeof name;
  if (!GetDefaultPrinterA(name, &size)) return std::nullopt;
  return std::string(name);
}

// The PDF files cups-pdf has written for documents named Tamsket.
inline std::set<std::string> tamsketPdfs(const std::string& folder) {
  std::set<std::string> names;
  std::error_code noFolderYet;
  for (const auto& entry : std::filesystem::directory_iterator(folder, noFolderYet)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("Tamsket", 0) == 0 && entry.path().extension() == ".pdf") names.insert(name);
  }
  return names;
}

// The jobs CUPS knows for a queue, finished ones included ("PDF-12", ...), or
// nothing when lpstat failed. Wine starts Unix programs on the test's own stdio
// and with no handle to wait on, so the output comes through a renamed file.
inline std::optional<std::set<std::string>> cupsJobs(const std::string& queue) {
  const std::string done = "/tmp/tamsket-lpstat-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(GetTickCount());
  std::string commandLine = "Z:\\bin\\sh -c \"exec </dev/null >/dev/null 2>&1; timeout 10 " +
                            std::string("/usr/bin/lpstat -W all -o '") + queue + "' >" + done +
                            ".part; echo $? >>" + done + ".part; mv " + done + ".part " + done +
                            "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return std::nullopt;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  const std::string output = wintest::windowsPath(done);
  if (!wintest::pumpUntil(
          [&] { return GetFileAttributesA(output.c_str()) != INVALID_FILE_ATTRIBUTES; }, 15000)) {
    return std::nullopt;
  }
  std::vector<std::string> lines = wintest::linesOf(output);
  DeleteFileA(output.c_str());
  if (lines.empty() || lines.back() != "0") return std::nullopt;
  lines.pop_back();
  std::set<std::string> jobs;
  for (const auto& line : lines) jobs.insert(line.substr(0, line.find(' ')));
  return jobs;
}

// What the printed page should show, in the window's pixels on screen.
struct Page {
  RECT client, band;
  COLORREF bandColour, background;
  RECT button;
  std::optional<RECT> bandPlain;  // where no text reaches, for a band mostly text
  std::optional<RECT> grey;       // background below the band; else down to the button
  std::optional<RECT> caret;      // where the text cursor was on screen: not on paper
};

inline std::ostream& operator<<(std::ostream& out, const RECT& r) {
  return out << r.left << " " << r.top << " " << r.right << " " << r.bottom;
}

// Runs `print`, which is to print one page, finds the PDF that page became
// and leaves check_printout.py a record of it: TAMSKET_PRINTOUT_RECORD, with
// "-<variant>" before ".txt" for a test program of its own.
template <typename Print>
void printAndRecord(const std::string& variant, const Page& page, Print print) {
  std::string record = wintest::windowsPathFromEnv("TAMSKET_PRINTOUT_RECORD");
  const std::string pdfFolder = wintest::windowsPathFromEnv("TAMSKET_PDF_DIR");
  ASSERT_TRUE(!pdfFolder.empty() && !record.empty()) << "run this under wine-run.sh";
  if (!variant.empty()) record.insert(record.size() - 4, "-" + variant);
  DeleteFileA(record.c_str());  // an earlier run's record must not stand in for this one
  const auto printer = defaultPrinter();
  if (!printer) {
    // The check of the page is skipped with the test, for the same reason.
    const char* why = "no default printer: the CUPS queue PDF is not set up";
    std::ofstream(record) << "skip " << why << "\n";
    GTEST_SKIP() << why;
  }
  const auto jobsBefore = cupsJobs(*printer);
  ASSERT_TRUE(jobsBefore) << "lpstat could not be asked";
  const auto pdfsBefore = tamsketPdfs(pdfFolder);

  print();
  // The job reaches CUPS before the print call returns (EndDoc hands it
  // over); its PDF takes a moment longer.
  const auto jobs = cupsJobs(*printer);
  ASSERT_TRUE(jobs) << "lpstat could not be asked";
  int jobsAdded = 0;
  for (const auto& job : *jobs) jobsAdded += !jobsBefore->count(job);
  ASSERT_EQ(jobsAdded, 1) << "one print job";
  std::set<std::string> added;
  ASSERT_TRUE(wintest::pumpUntil(
      [&] {
        for (const auto& name : tamsketPdfs(pdfFolder)) {
          if (!pdfsBefore.count(name)) added.insert(name);
        }
        return !added.empty();
      },
      60000))
      << "no new Tamsket*.pdf in " << pdfFolder << " within 60 s";
  ASSERT_EQ(added.size(), 1u) << "more than one document printed";

  const auto rgb = [](COLORREF c) {
    return std::to_string(GetRValue(c)) + " " + std::to_string(GetGValue(c)) + " " +
           std::to_string(GetBValue(c));
  };
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  std::ofstream out(record, std::ios::trunc);
  out << "pdf " << std::getenv("TAMSKET_PDF_DIR") << "/" << *added.begin() << "\ndpi " << dpi
      << "\nclient " << page.client << "\nband " << page.band << " " << rgb(page.bandColour)
      << "\nbackground " << rgb(page.background) << "\nbutton " << page.button << "\n";
  if (page.bandPlain) out << "band_plain " << *page.bandPlain << "\n";
  if (page.grey) out << "grey " << *page.grey << "\n";
  if (page.caret) out << "caret " << *page.caret << "\n";
  ASSERT_TRUE(out.good()) << "cannot write " << record;
}

}  // namespace printout
