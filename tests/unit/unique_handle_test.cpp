#include "handle/unique_handle.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <vector>

namespace {

std::vector<int> closed;
void recordClose(int fd) { closed.push_back(fd); }
// A descriptor's kind of none, with the closes recorded instead of done.
using Recorded = tamsket::UniqueHandle<int, recordClose, tamsket::noDescriptor>;

// -1 is no descriptor; every other value, 0 (standard input) included, is
// one, closed once whichever way its owner ends.
TEST(UniqueHandle, ClosesEachOwnedDescriptorOnce) {
  const struct {
    const char* what;
    std::function<void()> run;
    std::vector<int> closes;
  } cases[] = {
      {"owned to the end", [] { Recorded fd(5); }, {5}},
      {"0 is a descriptor", [] { Recorded fd(0); }, {0}},
      {"-1 is none", [] { Recorded fd(-1); }, {}},
      {"none by default", [] { Recorded fd; }, {}},
      {"released", [] { Recorded(5).release(); }, {}},
      {"moved",
       [] {
         Recorded from(5);
         Recorded to(std::move(from));
       },
       {5}},
      {"moved over another",
       [] {
         Recorded from(5);
         Recorded to(6);
         to = std::move(from);
       },
       {6, 5}},
      {"reset",
       [] {
         Recorded fd(5);
         fd.reset(7);
       },
       {5, 7}},
      {"received",
       [] {
         Recorded fd(5);
         *fd.receive() = 7;
       },
       {5, 7}},
  };
  for (const auto& c : cases) {
    closed.clear();
    c.run();
    EXPECT_EQ(closed, c.closes) << c.what;
  }
  EXPECT_FALSE(Recorded(-1));
  EXPECT_TRUE(Recorded(0)) << "standard input is a descriptor";
}

TEST(UniqueHandle, DescriptorIsClosedBySystem) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  { const tamsket::UniqueDescriptor read(ends[0]), write(ends[1]); }
  for (const int fd : ends) {
    errno = 0;
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << fd;
    EXPECT_EQ(errno, EBADF) << fd;
  }
}

}  // namespace
