#pragma once

// Printed pages, for the Windows tests that print. The CUPS queue turns each
// job into a PDF in TAMSKET_PDF_DIR; a test finds the one its job became and
// leaves a record of what the page should show, which check_printout.py
// compares with the rendered page once the test program has ended.
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "win/win_test_support.h"

namespace printout {

// The PDF files cups-pdf has written for documents named Tamsket.
inline std::set<std::string> tamsketPdfs(const std::string& folder) {
  std::set<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\Tamsket*.pdf").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    names.insert(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

inline std::set<std::string> pdfsAddedSince(const std::string& folder,
                                            const std::set<std::string>& before) {
  std::set<std::string> added;
  for (const auto& name : tamsketPdfs(folder)) {
    if (!before.count(name)) added.insert(name);
  }
  return added;
}

// Waits, handling messages, until at least one PDF has been added since
// `before`, and returns the added ones (none when the time ran out).
inline std::set<std::string> waitForNewPdfs(const std::string& folder,
                                            const std::set<std::string>& before,
                                            DWORD milliseconds = 60000) {
  std::set<std::string> added;
  wintest::pumpUntil(
      [&] {
        added = pdfsAddedSince(folder, before);
        return !added.empty();
      },
      milliseconds);
  return added;
}

// What a shell command writes to stdout, with its exit status, or nothing
// when it could not be run. Wine starts ELF programs named by a Z: path, but
// on the test's own stdio (ctest's pipes) and without a process handle to
// wait on: the shell lets go of that stdio at once, and its output goes to a
// file that is renamed into place when the command is done.
struct ShellResult {
  std::string output;
  int status = -1;
};

inline std::optional<ShellResult> runShell(const std::string& command) {
  const std::string name = "/tmp/tamsket-shell-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(GetTickCount());
  const std::string part = name + ".part";
  std::string commandLine = "Z:\\bin\\sh -c \"exec </dev/null >/dev/null 2>&1; timeout 10 " +
                            command + " >" + part + "; echo $? >>" + part + "; mv " + part + " " +
                            name + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return std::nullopt;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  std::string done = "Z:" + name;
  for (auto& c : done) {
    if (c == '/') c = '\\';
  }
  if (!wintest::pumpUntil(
          [&] { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, 15000)) {
    return std::nullopt;
  }
  std::ifstream in(done);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  DeleteFileA(done.c_str());
  // The last line is the status.
  if (text.empty() || text.back() != '\n') return std::nullopt;
  text.pop_back();
  const std::size_t statusAt = text.rfind('\n') + 1;  // 0 when the command wrote nothing
  ShellResult result;
  result.status = std::atoi(text.c_str() + statusAt);
  result.output = text.substr(0, statusAt);
  return result;
}

// The jobs CUPS knows for a queue, finished ones included ("PDF-12", ...), or
// nothing when lpstat could not be asked.
inline std::optional<std::set<std::string>> cupsJobs(const std::string& queue) {
  const auto listing = runShell("/usr/bin/lpstat -W all -o '" + queue + "'");
  if (!listing || listing->status != 0) return std::nullopt;
  std::set<std::string> jobs;
  std::istringstream lines(listing->output);
  std::string line;
  while (std::getline(lines, line)) {
    const std::string job = line.substr(0, line.find(' '));
    if (!job.empty()) jobs.insert(job);
  }
  return jobs;
}

// The jobs of a queue that were not there `before`, or nothing when lpstat
// could not be asked.
inline std::optional<std::set<std::string>> cupsJobsAddedSince(
    const std::string& queue, const std::set<std::string>& before) {
  auto jobs = cupsJobs(queue);
  if (!jobs) return std::nullopt;
  for (const auto& job : before) jobs->erase(job);
  return jobs;
}

// The file check_printout.py reads: TAMSKET_PRINTOUT_RECORD, or for a test
// program of its own, that name with "-<variant>" before ".txt".
inline std::string recordPath(const std::string& variant = {}) {
  std::string path = wintest::windowsPathFromEnv("TAMSKET_PRINTOUT_RECORD");
  if (path.empty() || variant.empty()) return path;
  const std::size_t dot = path.rfind('.');
  const std::size_t folderEnd = path.rfind('\\');
  const bool hasExtension =
      dot != std::string::npos && (folderEnd == std::string::npos || dot > folderEnd);
  return path.insert(hasExtension ? dot : path.size(), "-" + variant);
}

// What the printed page should show, in the window's pixels at `dpi`.
struct Record {
  std::string pdfName;  // in TAMSKET_PDF_DIR
  int dpi = 96;
  RECT client{};
  RECT band{};
  COLORREF bandColour = 0;
  // A part of the band that no text reaches, for a band whose text covers
  // more than a tenth of it.
  std::optional<RECT> bandPlain;
  COLORREF background = 0;
  RECT button{};
  // Where the background shows below the band; without it, the whole width
  // from the band down to the button.
  std::optional<RECT> grey;
};

inline std::string rgb(COLORREF colour) {
  return std::to_string(GetRValue(colour)) + " " + std::to_string(GetGValue(colour)) + " " +
         std::to_string(GetBValue(colour));
}

inline std::string rect(const RECT& r) {
  return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) +
         " " + std::to_string(r.bottom);
}

inline bool writeRecord(const std::string& path, const Record& record) {
  const char* pdfFolder = std::getenv("TAMSKET_PDF_DIR");
  std::ofstream out(path, std::ios::trunc);
  out << "pdf " << (pdfFolder ? pdfFolder : "") << "/" << record.pdfName << "\n"
      << "dpi " << record.dpi << "\n"
      << "client " << rect(record.client) << "\n"
      << "band " << rect(record.band) << " " << rgb(record.bandColour) << "\n"
      << "background " << rgb(record.background) << "\n"
      << "button " << rect(record.button) << "\n";
  if (record.bandPlain) out << "band_plain " << rect(*record.bandPlain) << "\n";
  if (record.grey) out << "grey " << rect(*record.grey) << "\n";
  return out.good();
}

}  // namespace printout
