#pragma once

// Thin wrappers over the 8-bit file functions of kernel32, with their
// arguments and results.
namespace platform {

struct FileTag;
using FileHandle = FileTag*;  // HANDLE

// CreateFileA's failure value, INVALID_HANDLE_VALUE.
inline FileHandle invalidFileHandle() { return reinterpret_cast<FileHandle>(-1); }

inline constexpr unsigned long kGenericWrite = 0x40000000;
inline constexpr unsigned long kCreateAlways = 2;
inline constexpr unsigned long kFileAttributeNormal = 0x80;
inline constexpr unsigned long kMoveFileReplaceExisting = 0x1;

FileHandle createFileA(const char* fileName, unsigned long desiredAccess, unsigned long shareMode,
                       void* securityAttributes, unsigned long creationDisposition,
                       unsigned long flagsAndAttributes, FileHandle templateFile);
int writeFile(FileHandle file, const void* buffer, unsigned long bytesToWrite,
              unsigned long* bytesWritten, void* overlapped);
int closeHandle(FileHandle handle);
unsigned getTempFileNameA(const char* pathName, const char* prefixString, unsigned unique,
                          char* tempFileName);
int moveFileExA(const char* existingFileName, const char* newFileName, unsigned long flags);
int deleteFileA(const char* fileName);

// MAX_PATH: the room GetTempFileNameA's result needs.
inline constexpr unsigned kMaxPath = 260;

}  // namespace platform
