#include "kernel/files/FileSyncer.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "tests/TestSupport.h"

using namespace OrlaqLidar;

namespace {
bool WaitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
}  // namespace

TEST(FileSyncer, SyncsTheWatchedFileAfterEachWriteFromItsOwnThread) {
  OrlaqLidar::Test::TTempDir dir;
  const int fd = ::open((dir / "a.skv2").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  TFileSyncer syncer;
  syncer.Written();  // nothing watched yet: nothing to sync
  syncer.Watch(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
  ASSERT_EQ(::write(fd, "SKV2", 4), 4);
  syncer.Written();
  ASSERT_TRUE(WaitFor([&] { return syncer.Syncs() >= 1; }));
  ASSERT_EQ(::write(fd, "HEA2", 4), 4);
  syncer.Written();
  ASSERT_TRUE(WaitFor([&] { return syncer.Syncs() >= 2; }));
  // Once the file is let go, writes elsewhere cause no sync.
  syncer.Watch(-1);
  const uint64_t before = syncer.Syncs();
  syncer.Written();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(syncer.Syncs(), before);
  ::close(fd);
}

TEST(FileSyncer, AFailedSyncIsHandedToTheOwnerOnce) {
  TFileSyncer syncer([](int) {
    errno = EIO;
    return -1;
  });
  EXPECT_EQ(syncer.TakeError(), 0);
  syncer.Watch(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  syncer.Written();
  ASSERT_TRUE(WaitFor([&] { return syncer.Syncs() >= 1; }));
  EXPECT_EQ(syncer.TakeError(), EIO);
  EXPECT_EQ(syncer.TakeError(), 0);
}
