// A fixture that gives each test a fresh directory, removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace steward {

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/platform_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const std::string& relative) const { return dir_ + "/" + relative; }
  // Writes a file under the directory; its full path.
  std::string writeFile(const std::string& relative, const std::string& bytes) {
    std::ofstream(path(relative), std::ios::binary) << bytes;
    return path(relative);
  }
  std::string readFile(const std::string& relative) const {
    std::stringstream bytes;
    bytes << std::ifstream(path(relative), std::ios::binary).rdbuf();
    return bytes.str();
  }

  std::string dir_;
};

}  // namespace steward
