#include "app/startup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "app/settings_file.h"
#include "signing/distribution_signature.h"
#include "distribution/codepage.h"
#include "fakes.h"
#include "scripted_ui.h"
#include "engine/connection.h"
#include "link/tcp_link.h"

namespace dorvik {
namespace {

namespace fs = std::filesystem;

InstallOptions Parse(std::vector<std::string> args, InstallLog* logOut = nullptr) {
  InstallOptions o;
  InstallLog log;
  ParseCommandLine(args, o, log);
  if (logOut) *logOut = log;
  return o;
}

TEST(CommandLine, PositionalSwitchesAndTheChunkLimit) {
  EXPECT_FALSE(Parse({"q"}).HardPreAction);
  EXPECT_TRUE(Parse({"q"}).RunPreActions);
  EXPECT_FALSE(Parse({"no"}).RunPreActions);
  // Exact and case-sensitive.
  EXPECT_TRUE(Parse({"Q"}).HardPreAction);
  EXPECT_TRUE(Parse({"NO"}).RunPreActions);
  // A number in second place counts only with a third argument.
  EXPECT_EQ(Parse({"word", "100"}).ChunkLimit, 32700);
  EXPECT_EQ(Parse({"word", "100", "x"}).ChunkLimit, 100);
  EXPECT_EQ(Parse({"word", "40000", "x"}).ChunkLimit, 32700);
  EXPECT_FALSE(Parse({"x", "%"}).DetectLibrary);

  InstallLog log;
  const InstallOptions o = Parse({"word", "%", "other"}, &log);
  EXPECT_FALSE(o.DetectLibrary);
  EXPECT_EQ(o.ChunkLimit, 32700);
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(log.Lines()[0].rfind(Ru("Ошибка GUI приложения: "), 0), 0u);
  EXPECT_EQ(Parse({"", "12abc", "x"}).ChunkLimit, 32700);
}

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("startup-test-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

#ifndef _WIN32  // the user's settings are the registry there (tests/windows)
TEST_F(StartupTest, SettingsFileHonoursXdgConfigHomeAndRoundTrips) {
  const std::string old = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
  ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  EXPECT_EQ(UserSettingsFile(), dir_ / "velmora" / "dorvik.conf");
  {
    auto store = OpenUserSettings();
    ConnectionSettings c;
    LoadConnectionSettings(*store, c);
    EXPECT_EQ(c.IP, "127.0.0.1");
    EXPECT_EQ(c.Port, "1972");
    EXPECT_EQ(c.PreferredNamespace, "USER");
    c.IP = "10.0.0.5";
    c.Port = "56773";
    c.Namespace = "SAMPLES";
    SaveConnectionSettings(*store, c);
  }
  auto store = OpenUserSettings();
  ConnectionSettings c;
  LoadConnectionSettings(*store, c);
  EXPECT_EQ(c.IP, "10.0.0.5");
  EXPECT_EQ(c.Port, "56773");
  EXPECT_EQ(c.PreferredNamespace, "SAMPLES");
  if (old.empty()) {
    ::unsetenv("XDG_CONFIG_HOME");
  } else {
    ::setenv("XDG_CONFIG_HOME", old.c_str(), 1);
  }
}
#endif

TEST_F(StartupTest, ClosedSettingsStoreGivesDefaultsAndSavesNothing) {
  testing::MemorySettings store;
  store.open = false;
  ConnectionSettings c;
  c.IP = "x";
  LoadConnectionSettings(store, c);
  EXPECT_EQ(c.IP, "127.0.0.1");
  c.Namespace = "USER";
  SaveConnectionSettings(store, c);
  EXPECT_TRUE(store.values.empty());
}

TEST_F(StartupTest, LicenceAndPictureCounting) {
  std::vector<std::string> lines;
  EXPECT_FALSE(LoadLicence(dir_ / "licence.txt", lines));
  std::ofstream(dir_ / "licence.txt").close();
  EXPECT_TRUE(LoadLicence(dir_ / "licence.txt", lines));  // an empty licence is still a licence
  EXPECT_TRUE(lines.empty());
  std::ofstream(dir_ / "licence.txt", std::ios::binary) << "one\r\ntwo\r\n";
  ASSERT_TRUE(LoadLicence(dir_ / "licence.txt", lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two"}));

  testing::ScriptedUi ui;
  testing::FakeClock clock;
  testing::MemorySettings settings;
  TcpLink link;
  Session s(FileLocations::In(dir_), link, ui, clock, settings);
  EXPECT_FALSE(CountImages(s));  // no IMAGES folder
  EXPECT_EQ(s.run.ImageCount, 0);
  fs::create_directories(s.files.ImagesFolder);
  for (const char* name : {"p1.jpg", "p2.JPG", "p4.jpg", "q3.jpg"}) std::ofstream(s.files.ImagesFolder / name) << "x";
  EXPECT_TRUE(CountImages(s));
  EXPECT_EQ(s.run.ImageCount, 2);  // the gap at 3 ends the count
}

TEST_F(StartupTest, StartSessionLogsHeaderThenReaderLines) {
  testing::ScriptedUi ui;
  testing::FakeClock clock;
  clock.timeOfDay = (13 * 3600 + 5 * 60 + 9) / 86400.0;
  testing::MemorySettings settings;
  settings.values = {{"IP", "192.168.1.1"}, {"NS", "SAMPLES"}};
  TcpLink link;
  Session s(FileLocations::In(dir_), link, ui, clock, settings);
  const StartupResult r = StartSession(s, {"q", "500", "x"});
  EXPECT_FALSE(r.headerRead);  // no data file
  EXPECT_FALSE(r.licencePresent);
  EXPECT_FALSE(s.options.HardPreAction);
  EXPECT_EQ(s.options.ChunkLimit, 500);
  EXPECT_EQ(s.connection.IP, "192.168.1.1");
  EXPECT_EQ(s.connection.Port, "1972");
  EXPECT_EQ(s.connection.PreferredNamespace, "SAMPLES");
  ASSERT_EQ(s.log.Lines().size(), 3u);
  EXPECT_EQ(s.log.Lines()[0], Ru("Протокол установки дистрибутива. 08.12.2026 13:05:09"));
  EXPECT_EQ(s.log.Lines()[1], Ru("Версия установщика: 2.9"));
}

// The reason shown below "Ошибка инициализации установщика"; the log is
// left as the reader wrote it.
TEST_F(StartupTest, HeaderFailureIsDescribedInPlainWords) {
  testing::ScriptedUi ui;
  testing::FakeClock clock;
  testing::MemorySettings settings;
  TcpLink link;
  auto reason = [&](const std::string* bytes) {
    Session s(FileLocations::In(dir_), link, ui, clock, settings);
    fs::remove_all(s.files.DataFilePath);
    if (bytes != nullptr) std::ofstream(s.files.DataFilePath, std::ios::binary) << *bytes;
    const StartupResult r = StartSession(s, {});
    EXPECT_FALSE(r.headerRead);
    const std::size_t logged = s.log.Lines().size();
    EXPECT_EQ(DescribeHeaderFailure(s.files.DataFilePath, s.log), r.headerFailure);
    EXPECT_EQ(s.log.Lines().size(), logged);
    return Cp1251ToUtf8(r.headerFailure);
  };
  EXPECT_EQ(reason(nullptr), "Файл дистрибутива не найден.");
  const std::string twoBytes("\0\x05", 2);
  EXPECT_EQ(reason(&twoBytes),
            "Файл дистрибутива повреждён: файл кончается на смещении 2, поле «название продукта» не дописано.");
  const std::string noDate("\0\x05P\rV\rDa", 8);
  EXPECT_EQ(reason(&noDate),
            "Файл дистрибутива повреждён: файл кончается на смещении 8, поле «дата сборки» не дописано.");
  // Header complete, the password record empty (13 encoded with key 5 is 8).
  const std::string noPassword("\0\x05P\rV\rD\r\x08", 9);
  EXPECT_EQ(reason(&noPassword), "Файл дистрибутива повреждён: нет пароля исходных текстов на смещении 8.");
  fs::remove(dir_ / "dorpack.dat");
  fs::create_directories(dir_ / "dorpack.dat");
  Session s(FileLocations::In(dir_), link, ui, clock, settings);
  EXPECT_FALSE(StartSession(s, {}).headerRead);
  EXPECT_EQ(Cp1251ToUtf8(DescribeHeaderFailure(s.files.DataFilePath, s.log)),
            "Путь файла дистрибутива указывает не на файл.");
}

TEST(SettingsSummary, LinesForEachOptionSet) {
  testing::ScriptedUi ui;
  testing::FakeClock clock;
  testing::MemorySettings settings;
  TcpLink link;
  Session s(FileLocations::In("."), link, ui, clock, settings);
  s.dist.ProductName = Ru("Кадры");
  s.dist.Version = "1.0";
  s.dist.BuildDate = "01.02.2026";
  s.connection.Namespace = "USER";
  const std::string ten(10, ' ');
  auto summary = FillSettingsSummary(s);
  ASSERT_EQ(summary.size(), 16u);
  EXPECT_EQ(summary[1], ten + Ru("Кадры 1.0"));
  EXPECT_EQ(summary[2], ten + Ru("сборка 01.02.2026"));
  EXPECT_EQ(summary[6], ten + Ru("Без исходных текстов программ"));
  EXPECT_EQ(summary[8], ten + Ru("установка с \"жестким\" преддействием"));
  EXPECT_EQ(summary[14], ten + Ru("Порт       : 1972"));

  s.options.HardPreAction = false;
  s.options.KeepSources = true;
  s.options.RestoreRoutines = false;
  s.options.RunPostActions = false;
  summary = FillSettingsSummary(s);
  EXPECT_EQ(summary[6], ten + Ru("С исходными текстами программ"));
  EXPECT_EQ(summary[8], ten + Ru("установка с \"мягким\" преддействием"));
  EXPECT_EQ(summary[9], ten + Ru("не восстанавливать программы"));
  EXPECT_EQ(summary[10], ten + Ru("последействия НЕ ВЫПОЛНЯТЬ"));

  s.options.RunPreActions = false;
  summary = FillSettingsSummary(s);
  ASSERT_EQ(summary.size(), 15u);
  EXPECT_EQ(summary[7], ten + Ru("преддействия не выполнять"));
}

TEST(PortField, BlanksTrimmedAndNoDigitsIsEmpty) {
  EXPECT_EQ(NormalisePort("  72"), "72");
  EXPECT_EQ(NormalisePort("1972"), "1972");
  EXPECT_EQ(NormalisePort("    "), "");
  EXPECT_EQ(NormalisePort(""), "");
}

// The signature is checked right after the log header, from the settings'
// trusted keys; a refusal leaves the header unread; pictures added after
// the check do not count.
TEST_F(StartupTest, SignatureIsCheckedAfterTheHeaderAndLimitsThePictures) {
  std::ofstream(dir_ / "dorpack.dat", std::ios::binary) << "not read: the check comes first";
  fs::create_directories(dir_ / "IMAGES");
  std::ofstream(dir_ / "IMAGES" / "p1.jpg", std::ios::binary) << "one";
  const auto pair = signing::GenerateKeyPair();
  signing::SignDistribution(dir_, pair.secretKey, "c");
  const std::string pub = signing::FormatPublicKey(pair.publicKey);

  testing::ScriptedUi ui;
  testing::FakeClock clock;
  testing::MemorySettings settings;
  settings.values = {{"TrustedKeys", pub.substr(pub.find('\n') + 1)}};
  TcpLink link;
  {
    Session s(FileLocations::In(dir_), link, ui, clock, settings);
    const StartupResult r = StartSession(s, {});
    EXPECT_FALSE(r.signatureRefused);
    EXPECT_EQ(s.signature.status, signing::SignatureStatus::kVerifiedTrusted);
    ASSERT_GE(s.log.Lines().size(), 7u);
    EXPECT_EQ(s.log.Lines()[2], "");
    EXPECT_EQ(s.log.Lines()[3], Ru("Дистрибутив подписан ключом ") + s.signature.signerKeyId + ".");
    EXPECT_EQ(s.log.Lines()[6], "");
    std::ofstream(dir_ / "IMAGES" / "p2.jpg", std::ios::binary) << "added after the check";
    EXPECT_TRUE(CountImages(s));
    EXPECT_EQ(s.run.ImageCount, 1);
  }
  // Now p2 is there at start: a file the installer would read, not listed.
  Session s(FileLocations::In(dir_), link, ui, clock, settings);
  const StartupResult r = StartSession(s, {});
  EXPECT_TRUE(r.signatureRefused);
  EXPECT_FALSE(r.headerRead);
  EXPECT_EQ(r.headerFailure,
            Ru("Подпись дистрибутива не принята: файл IMAGES/p2.jpg не назван в списке сумм dorpack.sums"));
  EXPECT_EQ(s.log.Lines().back(), "");
  EXPECT_EQ(s.log.Lines()[s.log.Lines().size() - 2], r.headerFailure);
}

}  // namespace
}  // namespace dorvik
