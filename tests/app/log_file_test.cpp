#include "app/log_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <unistd.h>

#include "distribution/codepage.h"

namespace dorvik {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("log-file-test-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "program");
    fs::create_directories(root_ / "fallback");
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(root_ / "program", fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root_, ec);
  }
  fs::path root_;
};

TEST_F(LogFileTest, HeaderLinesAndBytesOnDisk) {
  InstallLog log;
  WriteLogHeader(log, {2026, 12, 8}, 0.5 + 1.0 / 86400, "2.9");
  log.Add(Ru("Продукт: ") + "X");
  log.Add("");
  ASSERT_EQ(log.Lines().size(), 5u);
  EXPECT_EQ(log.Lines()[0], Ru("Протокол установки дистрибутива. 08.12.2026 12:00:01"));
  EXPECT_EQ(log.Lines()[1], Ru("Версия установщика: 2.9"));
  EXPECT_EQ(log.Lines()[2], "");

  const auto r = WriteLogFile(log, root_ / "program" / "dorvik.txt", root_ / "fallback");
  ASSERT_TRUE(r.written);
  EXPECT_FALSE(r.usedFallback);
  EXPECT_EQ(r.path, root_ / "program" / "dorvik.txt");
  const std::string expected = log.Lines()[0] + "\r\n" + log.Lines()[1] + "\r\n\r\n" + log.Lines()[3] + "\r\n\r\n";
  EXPECT_EQ(ReadAll(r.path), expected);  // 1251 bytes, no byte-order mark, ends with a line break
}

TEST_F(LogFileTest, NumberingNeverReplacesAnEarlierProtocol) {
  InstallLog log;
  log.Add("new");
  std::ofstream(root_ / "program" / "dorvik.txt") << "first";
  std::ofstream(root_ / "program" / "dorvik1.txt") << "second";
  const auto r = WriteLogFile(log, root_ / "program" / "dorvik.txt", root_ / "fallback");
  EXPECT_EQ(r.path, root_ / "program" / "dorvik2.txt");
  EXPECT_EQ(ReadAll(root_ / "program" / "dorvik.txt"), "first");
  EXPECT_EQ(ReadAll(r.path), "new\r\n");
}

TEST_F(LogFileTest, UnwritableProgramFolderFallsBackWithNumbering) {
#ifdef _WIN32
  const bool everythingWritable = true;  // a read-only attribute does not stop writes into a folder
#else
  const bool everythingWritable = ::geteuid() == 0;
#endif
  if (everythingWritable) {
    // Root writes into a read-only folder anyway; a missing folder fails for everyone.
    fs::remove_all(root_ / "program");
  } else {
    fs::permissions(root_ / "program", fs::perms::owner_read | fs::perms::owner_exec);
  }
  std::ofstream(root_ / "fallback" / "dorvik.txt") << "older protocol";
  InstallLog log;
  log.Add("line");
  const auto r = WriteLogFile(log, root_ / "program" / "dorvik.txt", root_ / "fallback");
  ASSERT_TRUE(r.written);
  EXPECT_TRUE(r.usedFallback);
  EXPECT_EQ(r.path, root_ / "fallback" / "dorvik1.txt");
  EXPECT_EQ(ReadAll(root_ / "fallback" / "dorvik.txt"), "older protocol");
  EXPECT_EQ(ReadAll(r.path), "line\r\n");

  // Nowhere to write: reported, not thrown.
  const auto lost = WriteLogFile(log, root_ / "program" / "dorvik.txt", root_ / "missing");
  EXPECT_FALSE(lost.written);
}

TEST_F(LogFileTest, FallbackTakesTheNameChosenBesideTheProgram) {
  // dorvik.txt is taken beside the program, so dorvik1.txt is chosen there;
  // a dangling link of that name makes the write fail, also for root.
  std::ofstream(root_ / "program" / "dorvik.txt") << "first";
  std::error_code linked;
  fs::create_symlink(root_ / "nowhere" / "x", root_ / "program" / "dorvik1.txt", linked);
  // Wine has no symbolic links; the Linux run covers this case.
  if (linked) GTEST_SKIP() << "no symbolic links here: " << linked.message();
  InstallLog log;
  log.Add("line");
  auto r = WriteLogFile(log, root_ / "program" / "dorvik.txt", root_ / "fallback");
  ASSERT_TRUE(r.written);
  EXPECT_TRUE(r.usedFallback);
  EXPECT_EQ(r.path, root_ / "fallback" / "dorvik1.txt");
  EXPECT_FALSE(fs::exists(root_ / "fallback" / "dorvik.txt"));

  // A file of that name in the fallback folder: the numbering goes on from it.
  fs::remove(r.path);
  std::ofstream(root_ / "fallback" / "dorvik1.txt") << "older protocol";
  r = WriteLogFile(log, root_ / "program" / "dorvik.txt", root_ / "fallback");
  ASSERT_TRUE(r.written);
  EXPECT_EQ(r.path, root_ / "fallback" / "dorvik2.txt");
  EXPECT_EQ(ReadAll(root_ / "fallback" / "dorvik1.txt"), "older protocol");
  EXPECT_FALSE(fs::exists(root_ / "fallback" / "dorvik.txt"));

  unsigned number = 0;
  EXPECT_EQ(FirstFreeLogName(root_ / "fallback", "dorvik.txt", 1, &number), root_ / "fallback" / "dorvik3.txt");
  EXPECT_EQ(number, 3u);
}

}  // namespace
}  // namespace dorvik
