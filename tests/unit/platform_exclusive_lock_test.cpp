// The lock of a file shared by several openers: one takes it, the others
// find it held and can still read what the holder wrote; closing another
// opening of the file does not let it go, releasing does.
// Runs on Linux only: POSIX record locks (the Windows lock has its test in tests/windows).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "platform/exclusive_lock.h"
#include "support/temp_dir.h"

namespace korva {
namespace {

using platform::ExclusiveLock;
using State = ExclusiveLock::State;

TEST(ExclusiveLock, OneHolderTheOthersReadWhoItIs) {
  testing::TempDir dir;
  const std::string path = dir.File("KorvaUpdate.lock");
  testing::WriteBytes(path, "an earlier holder's much longer text\r\n");

  ExclusiveLock first = ExclusiveLock::TryTake(path);
  ASSERT_EQ(first.GetState(), State::kTaken);
  first.WriteText("CAIXA-01\r\n");
  EXPECT_EQ(testing::ReadBytes(path), "CAIXA-01\r\n");

  // Another opening of the file, here or anywhere, finds it held.
  ExclusiveLock second = ExclusiveLock::TryTake(path);
  EXPECT_EQ(second.GetState(), State::kHeldElsewhere);
  EXPECT_EQ(second.ReadText(), "CAIXA-01\r\n");
  EXPECT_EQ(second.ReadText(4), "CAIX");
  // Closing some other descriptor of the file does not drop the lock.
  ::close(::open(path.c_str(), O_RDWR));
  second.Release();
  EXPECT_EQ(ExclusiveLock::TryTake(path).GetState(), State::kHeldElsewhere);

  first.Release();
  ExclusiveLock third = ExclusiveLock::TryTake(path);
  EXPECT_EQ(third.GetState(), State::kTaken);
  EXPECT_EQ(third.ReadText(), "CAIXA-01\r\n");
  EXPECT_TRUE(std::filesystem::exists(path));
}

TEST(ExclusiveLock, NoLockWhereTheFileCannotBeOpened) {
  testing::TempDir dir;
  for (const std::string& path :
       {dir.File("missing-folder/KorvaUpdate.lock"), dir.Path() /* a folder */}) {
    SCOPED_TRACE(path);
    const ExclusiveLock lock = ExclusiveLock::TryTake(path);
    EXPECT_EQ(lock.GetState(), State::kUnavailable);
    EXPECT_FALSE(lock.Reason().empty());
    EXPECT_EQ(lock.ReadText(), "");
  }
}

}  // namespace
}  // namespace korva
