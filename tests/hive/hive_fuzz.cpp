// libFuzzer target: open a hive from any bytes, look up the keys and values
// the test fixtures hold, read every value found. Anything but an Error
// value (a crash, a sanitizer report, a hang) is a fault.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "hive/hive.h"
#include "memory_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  hive::Result<hive::Hive> h = hive::Hive::fromSource(std::make_unique<MemorySource>(data, size));
  if (!h) return 0;
  static const char* const kPaths[] = {"",
                                       "Microsoft\\Exchange\\Setup",
                                       "Wow6432Node\\Microsoft\\Exchange\\Setup",
                                       "A\\B\\C\\D",
                                       "A\\B\\C\\E",
                                       "Classes\\Key00250",
                                       "ByRi\\Mike",
                                       "BYLF\\charlie",
                                       "Caf\xc3\xa9\\\xd0\x9a\xd0\xbb\xd1\x8e\xd1\x87",
                                       "Alpha",
                                       "Many\\Child300",
                                       "Foo\\Sub"};
  static const char* const kValues[] = {"DigitalProductId", "",     "Big", "Inline", "Ordinary",
                                        "Big40000",         "Name", "N",   "Kind",   "Index"};
  for (const char* path : kPaths) {
    hive::Result<hive::Key> key = h.value().findKey(path);
    if (!key) continue;
    for (const char* name : kValues) {
      hive::Result<hive::Value> value = h.value().readValue(key.value(), name);
      if (value && value.value().data.size() > 0x7FFFFFFF) __builtin_trap();
    }
  }
  return 0;
}
