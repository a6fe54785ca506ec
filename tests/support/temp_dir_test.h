// A fixture that gives each test a fresh directory, removed afterwards with
// everything in it.

#ifndef STBLC_TESTS_SUPPORT_TEMP_DIR_TEST_H_
#define STBLC_TESTS_SUPPORT_TEMP_DIR_TEST_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace stblc {

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/stblc-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
};

}  // namespace stblc

#endif  // STBLC_TESTS_SUPPORT_TEMP_DIR_TEST_H_
