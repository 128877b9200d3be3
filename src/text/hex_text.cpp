// Apart from the conversions: the window program needs only this, and on PE
// the unwind records of a linked object keep all of its functions.
#include "text/text.h"

namespace text {

std::string hexText(std::uint64_t value, int digits) {
  std::string out;
  for (int n = 0; value != 0 || n < digits; ++n, value >>= 4) {
    out.insert(out.begin(), "0123456789ABCDEF"[value & 0xF]);
  }
  return "0x" + out;
}

}  // namespace text
