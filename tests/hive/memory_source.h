#pragma once

// A hive's bytes held in memory, for tests and the fuzzer.

#include <cstring>
#include <vector>

#include "hive/hive.h"

class MemorySource : public hive::ByteSource {
 public:
  MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint64_t size() const override { return size_; }
  hive::ReadStatus read(std::uint64_t offset, void* out, std::size_t length) const override {
    if (offset > size_ || length > size_ - offset) return hive::ReadStatus::pastEnd();
    if (length) std::memcpy(out, data_ + offset, length);
    return {};
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

// A source owning a copy of the bytes.
class OwnedSource : public MemorySource {
 public:
  explicit OwnedSource(std::vector<std::uint8_t> bytes)
      : MemorySource(nullptr, 0), bytes_(std::move(bytes)), view_(bytes_.data(), bytes_.size()) {}
  std::uint64_t size() const override { return view_.size(); }
  hive::ReadStatus read(std::uint64_t offset, void* out, std::size_t length) const override {
    return view_.read(offset, out, length);
  }

 private:
  std::vector<std::uint8_t> bytes_;
  MemorySource view_;
};
