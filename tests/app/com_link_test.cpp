// The test link /dev/COMn leaves every /dev/COMn alone that it did not make itself.
#include "com_link.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <memory>
#include <string>

namespace {

std::string linkTarget(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t size = ::readlink(path.c_str(), target, sizeof target);
  return size > 0 ? std::string(target, static_cast<size_t>(size)) : std::string();
}

// A /dev/COMn of somebody else (a real adapter's link), removed again when the test ends.
class ForeignLink {
 public:
  explicit ForeignLink(std::string path) : path_(std::move(path)) {
    made_ = ::symlink(kTarget, path_.c_str()) == 0;
  }
  ~ForeignLink() {
    if (made_ && linkTarget(path_) == kTarget) ::unlink(path_.c_str());
  }
  ForeignLink(const ForeignLink&) = delete;
  ForeignLink& operator=(const ForeignLink&) = delete;

  bool made() const { return made_; }
  bool intact() const { return linkTarget(path_) == kTarget; }

  static constexpr const char* kTarget = "/dev/ttyUSB-of-the-developer";

 private:
  std::string path_;
  bool made_ = false;
};

}  // namespace

TEST(ComLinkTest, AnExistingLinkIsNeitherReplacedNorRemoved) {
  const ForeignLink adapter(ComLink::pathOf(ComLink::preferredIndex()));
  if (!adapter.made()) GTEST_SKIP() << "cannot create links in /dev here";
  {
    const ComLink link;
    ASSERT_TRUE(link.linked());
    EXPECT_NE(link.index(), ComLink::preferredIndex());
    EXPECT_TRUE(adapter.intact());
  }
  EXPECT_TRUE(adapter.intact());
}

TEST(ComLinkTest, OnlyItsOwnLinkIsRemoved) {
  std::string path;
  {
    ComLink link;
    if (!link.linked()) GTEST_SKIP() << "cannot create links in /dev here";
    path = link.path();
    EXPECT_EQ(linkTarget(path), link.pty().slavePath());
  }
  EXPECT_TRUE(linkTarget(path).empty());  // its own link is gone

  // A link that took the place of its own while it was in use stays.
  std::unique_ptr<ForeignLink> adapter;
  {
    ComLink link;
    ASSERT_TRUE(link.linked());
    ASSERT_EQ(::unlink(link.path().c_str()), 0);
    adapter = std::make_unique<ForeignLink>(link.path());
    ASSERT_TRUE(adapter->made());
  }
  EXPECT_TRUE(adapter->intact());
}
