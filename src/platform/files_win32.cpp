#include "platform/files.h"

#include <windows.h>

namespace platform {

static_assert(sizeof(unsigned long) == sizeof(DWORD), "unsigned long must be DWORD");

FileHandle createFileA(const char* fileName, unsigned long desiredAccess, unsigned long shareMode,
                       void* securityAttributes, unsigned long creationDisposition,
                       unsigned long flagsAndAttributes, FileHandle templateFile) {
  return reinterpret_cast<FileHandle>(CreateFileA(
      fileName, desiredAccess, shareMode, static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes),
      creationDisposition, flagsAndAttributes, reinterpret_cast<HANDLE>(templateFile)));
}

int writeFile(FileHandle file, const void* buffer, unsigned long bytesToWrite,
              unsigned long* bytesWritten, void* overlapped) {
  return WriteFile(reinterpret_cast<HANDLE>(file), buffer, bytesToWrite, bytesWritten,
                   static_cast<LPOVERLAPPED>(overlapped));
}

int closeHandle(FileHandle handle) { return CloseHandle(reinterpret_cast<HANDLE>(handle)); }

unsigned getTempFileNameA(const char* pathName, const char* prefixString, unsigned unique,
                          char* tempFileName) {
  return GetTempFileNameA(pathName, prefixString, unique, tempFileName);
}

int moveFileExA(const char* existingFileName, const char* newFileName, unsigned long flags) {
  return MoveFileExA(existingFileName, newFileName, flags);
}

int deleteFileA(const char* fileName) { return DeleteFileA(fileName); }

}  // namespace platform
