#include "output_file.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "temp_dir_test.h"

namespace stblc {
namespace {

class OutputFileTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    old_umask_ = umask(022);
  }
  void TearDown() override {
    umask(old_umask_);
    TempDirTest::TearDown();
  }

  std::set<std::string> files() {
    std::set<std::string> names;
    DIR* d = opendir(dir_.c_str());
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    closedir(d);
    return names;
  }

  static std::string read(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  static bool write_all(OutputFile& out, const std::string& s) {
    return out.write(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  }

  static mode_t mode_of(const std::string& p) {
    struct stat st;
    EXPECT_EQ(stat(p.c_str(), &st), 0);
    return st.st_mode & 07777;
  }

  mode_t old_umask_ = 0;
};

TEST_F(OutputFileTest, NewFileAppearsOnlyOnCommit) {
  OutputFile out;
  ASSERT_TRUE(out.open(path("out.stbl").c_str()));
  ASSERT_TRUE(write_all(out, "STBL"));
  EXPECT_EQ(files().count("out.stbl"), 0u);  // still the temporary file
  ASSERT_TRUE(out.commit());
  EXPECT_EQ(files(), std::set<std::string>{"out.stbl"});
  EXPECT_EQ(read(path("out.stbl")), "STBL");
  EXPECT_EQ(mode_of(path("out.stbl")), 0644u);
}

// Room asked for ahead is only room: the file holds what was written.
TEST_F(OutputFileTest, ExpectedSizeIsOnlyAHint) {
  OutputFile out;
  ASSERT_TRUE(out.open(path("out.stbl").c_str()));
  out.expect(uint64_t{3} << 20);
  ASSERT_TRUE(write_all(out, "STBL"));
  ASSERT_TRUE(out.commit());
  EXPECT_EQ(read(path("out.stbl")), "STBL");
}

TEST_F(OutputFileTest, ReplacesAnExistingFileKeepingItsMode) {
  std::ofstream(path("out.stbl")) << "old";
  ASSERT_EQ(chmod(path("out.stbl").c_str(), 0640), 0);
  OutputFile out;
  ASSERT_TRUE(out.open(path("out.stbl").c_str()));
  ASSERT_TRUE(write_all(out, "new"));
  ASSERT_TRUE(out.commit());
  EXPECT_EQ(read(path("out.stbl")), "new");
  EXPECT_EQ(mode_of(path("out.stbl")), 0640u);
  EXPECT_EQ(files().size(), 1u);
}

TEST_F(OutputFileTest, UncommittedOutputLeavesTheOldFileAlone) {
  std::ofstream(path("out.stbl")) << "old";
  {
    OutputFile out;
    ASSERT_TRUE(out.open(path("out.stbl").c_str()));
    ASSERT_TRUE(write_all(out, "partial"));
  }
  EXPECT_EQ(read(path("out.stbl")), "old");
  EXPECT_EQ(files(), std::set<std::string>{"out.stbl"});
}

TEST_F(OutputFileTest, ReplacesTheFileALinkPointsTo) {
  std::ofstream(path("real.stbl")) << "old";
  ASSERT_EQ(mkdir(path("sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink("../real.stbl", path("sub/link.stbl").c_str()), 0);
  ASSERT_EQ(symlink("sub/link.stbl", path("link2.stbl").c_str()), 0);
  ASSERT_EQ(symlink("absent.stbl", path("dangling.stbl").c_str()), 0);

  for (const char* name : {"link2.stbl", "dangling.stbl"}) {
    OutputFile out;
    ASSERT_TRUE(out.open(path(name).c_str())) << name;
    ASSERT_TRUE(write_all(out, name));
    ASSERT_TRUE(out.commit());
  }
  struct stat st;
  ASSERT_EQ(lstat(path("link2.stbl").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(lstat(path("sub/link.stbl").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(read(path("real.stbl")), "link2.stbl");
  EXPECT_EQ(read(path("absent.stbl")), "dangling.stbl");

  ASSERT_EQ(symlink("loop", path("loop").c_str()), 0);
  OutputFile out;
  EXPECT_FALSE(out.open(path("loop").c_str()));
  EXPECT_EQ(out.error_number(), ELOOP);
}

TEST_F(OutputFileTest, ReportsFailuresWithTheirReason) {
  OutputFile missing_dir;
  EXPECT_FALSE(missing_dir.open(path("no/such/dir/out.stbl").c_str()));
  EXPECT_EQ(missing_dir.error_number(), ENOENT);

  OutputFile directory;
  EXPECT_FALSE(directory.open(dir_.c_str()));
  EXPECT_EQ(directory.error_number(), EISDIR);

  OutputFile full;  // a device is written directly
  ASSERT_TRUE(full.open("/dev/full"));
  EXPECT_FALSE(write_all(full, "x"));
  EXPECT_EQ(full.error_number(), ENOSPC);
  EXPECT_FALSE(write_all(full, "x"));
  EXPECT_FALSE(full.commit());

  OutputFile null;
  ASSERT_TRUE(null.open("/dev/null"));
  EXPECT_TRUE(write_all(null, "x"));
  EXPECT_TRUE(null.commit());
  EXPECT_TRUE(files().empty());
}

}  // namespace
}  // namespace stblc
