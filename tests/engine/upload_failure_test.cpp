// What an upload answers when it cannot go on: a record that names no
// routine is a damaged data file; a link or window that fails is a failed
// step, shown and logged as what it is, and never taken for damage.
#include <gtest/gtest.h>

#include <stdexcept>

#include "core/session.h"
#include "distribution/codepage.h"
#include "engine/upload.h"
#include "fakes.h"
#include "link/property_link.h"
#include "scripted_ui.h"

namespace dorvik {
namespace {

// A link whose control raises on every call, as the client control does
// when its server process is gone.
class ThrowingLink : public PropertyLink {
 public:
  void RunCode(const std::string&) override { throw std::runtime_error("<LINK> 10054"); }
};

TEST(UploadFailure, OnlyARecordWithoutARoutineIsDamage) {
  struct Case {
    const char* what;
    std::vector<std::string> lines;
    UploadResult expected;
    const char* logged;  // the log line after "Ошибка GUI приложения: "
  };
  const Case cases[] = {
      {"no lines", {}, UploadResult::Damaged, "запись программы без строк"},
      {"not a routine name", {"A B", " q"}, UploadResult::Damaged, "\"A B\" не является именем программы"},
      {"the link fails", {"VMA", " q"}, UploadResult::Failed, "<LINK> 10054"},
  };
  for (const Case& c : cases) {
    ThrowingLink link;
    testing::ScriptedUi ui;
    testing::FakeClock clock;
    testing::MemorySettings settings;
    Session s(FileLocations::In(std::filesystem::temp_directory_path()), link, ui, clock, settings);
    EXPECT_EQ(UploadRoutineLines(s, c.lines), c.expected) << c.what;
    ASSERT_FALSE(s.log.Lines().empty()) << c.what;
    EXPECT_EQ(Cp1251ToUtf8(s.log.Lines().back()), std::string("Ошибка GUI приложения: ") + c.logged) << c.what;
    EXPECT_TRUE(s.reader.Damage().empty()) << c.what << ": the caller notes damage, never the link";
    if (c.expected == UploadResult::Failed) {
      ASSERT_FALSE(ui.messages.empty()) << c.what;
      EXPECT_EQ(Cp1251ToUtf8(ui.messages.back()),
                "Ошибка при восстановлении программы в CacheКод ошибки: <LINK> 10054");
    }
  }
}

}  // namespace
}  // namespace dorvik
