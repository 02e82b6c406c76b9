// The Win32 wizard's parts that need no window: the message box's and the
// question dialog's sizes from their texts, the core's texts as UTF-16 and
// back, how the program tells the system's moving animations from still
// placeholders, and the pictures through the imaging component.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <objbase.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "animation.h"
#include "picture.h"
#include "distribution/codepage.h"
#include "layout.h"
#include "win_base.h"

namespace dorvik::win {
namespace {

// Every character 6 pixels wide, as a fixed font would measure.
int Fixed(std::wstring_view text) { return static_cast<int>(text.size()) * 6; }

TEST(KelboxLayoutTest, SizesTheBoxToTheMessageOrTheButtons) {
  struct Case {
    std::wstring message;
    std::wstring captions;
    int fixedWidth;
    bool icon;
    int windowWidth;
    int buttonWidth;
    std::vector<int> lefts;
  } cases[] = {
      // Two short captions: the minimum width plus 10, the row centred in
      // the box the message makes (10 characters: 60 + 40).
      {L"0123456789", L"Да_Нет", 0, false, 145, 50, {20, 75}},
      // A message much wider than the buttons: its width plus 40.
      {std::wstring(60, L'x'), L"Да_Нет", 0, false, 400, 50, {147, 202}},
      // Three captions and a fixed width below the minimum: all 40 wide.
      {L"", L"a_b_c", 30, false, 170, 40, {20, 65, 110}},
      // A caption wider than the minimum sets the width for all.
      {L"", L"Продолжить установку_Нет", 0, false, 305, 130, {20, 155}},
      // An icon: the text's left margin grows by 50.
      {L"0123456789", L"Да_Нет", 0, true, 150, 50, {22, 77}},
      // No captions: one button without a caption.
      {L"", L"", 0, false, 90, 50, {20}},
  };
  for (const Case& c : cases) {
    const KelboxLayout g = LayOutKelbox(c.message, c.captions, c.fixedWidth, c.icon, Fixed);
    SCOPED_TRACE(c.captions.size() * 100 + c.message.size());
    EXPECT_EQ(g.windowWidth, c.windowWidth);
    EXPECT_EQ(g.buttonWidth, c.buttonWidth);
    ASSERT_EQ(g.buttons.size(), c.lefts.size());
    for (std::size_t k = 0; k < c.lefts.size(); ++k) {
      EXPECT_EQ(g.buttons[k].left, c.lefts[k]) << "button " << k + 1;
      EXPECT_EQ(g.buttons[k].top, 50);
      EXPECT_EQ(g.buttons[k].width, c.buttonWidth);
    }
    EXPECT_EQ(g.topHeight, c.icon ? 50 : 35);
    EXPECT_EQ(g.labelHeight, c.icon ? 28 : 13);
  }
  const KelboxLayout captions = LayOutKelbox(L"", L"Да_Нет", 0, false, Fixed);
  EXPECT_EQ(captions.buttons[0].caption, L"Да");
  EXPECT_EQ(captions.buttons[1].caption, L"Нет");
}

TEST(QuestionLayoutTest, CountsTheLinesTheQuestionTakes) {
  // The label is 161 wide; a word counts with the blank after it, so 25
  // characters of 6 pixels make one line (156) and 26 already two (162).
  struct Case {
    std::wstring question;
    int lines;
  } cases[] = {
      {L"Имя базы", 1},
      {std::wstring(25, L'a'), 1},
      {std::wstring(26, L'a'), 2},
      // Two words that fit one after the other only without the blank
      // after the second: the blank counts.
      {std::wstring(12, L'a') + L" " + std::wstring(12, L'b'), 1},
      {std::wstring(13, L'a') + L" " + std::wstring(13, L'b'), 2},
      // Three lines of words.
      {L"aaaaaaaaaaaaaaaaaaaa bbbbbbbbbbbbbbbbbbbb cccccccccccccccccccc", 3},
      // A word wider than the label takes a line of its own.
      {std::wstring(30, L'w'), 2},
      // Two blanks give an empty word, which still takes its blank.
      {L"a  b", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CountQuestionLines(c.question, 161, Fixed), c.lines) << c.question.size();
  }
  EXPECT_EQ(QuestionLabelText(L"Имя  базы"), L"Имя  базы ");
}

TEST(WinTextTest, CoreTextsCrossToUtf16AndBack) {
  const std::string core = Ru("Выход из установки");
  EXPECT_EQ(Wide(core), L"Выход из установки");
  EXPECT_EQ(Narrow(L"Выход из установки"), core);
  EXPECT_EQ(Narrow(L""), "");
  // A character code page 1251 lacks is refused, never replaced.
  EXPECT_THROW(Narrow(L"日本"), TextConversionError);
  EXPECT_THROW(Narrow(L"\u00e9t\u00e9"), TextConversionError);
}

// A RIFF AVI file: "RIFF" size "AVI ", the header list, and the list
// "movi" with one video chunk per frame.
std::string Avi(const std::vector<std::string>& frames) {
  auto put = [](std::string& to, unsigned v) {
    for (int i = 0; i < 4; ++i) to.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  std::string header = "hdrlavih";
  put(header, 56);
  for (unsigned field :
       {66666u, 0u, 0u, 0x10u, static_cast<unsigned>(frames.size()), 0u, 1u, 0u, 272u, 60u, 0u, 0u, 0u, 0u}) {
    put(header, field);
  }
  std::string movi = "movi";
  for (const std::string& frame : frames) {
    movi += "00dc";
    put(movi, static_cast<unsigned>(frame.size()));
    movi += frame;
    if (frame.size() % 2 == 1) movi.push_back('\0');
  }
  std::string body = "AVI LIST";
  put(body, static_cast<unsigned>(header.size()));
  body += header + "LIST";
  put(body, static_cast<unsigned>(movi.size()));
  body += movi;
  std::string avi = "RIFF";
  put(avi, static_cast<unsigned>(body.size()));
  return avi + body;
}

unsigned Distinct(const std::string& avi) { return AviDistinctFrames(avi.data(), static_cast<unsigned>(avi.size())); }

TEST(AnimationTest, TellsMovingAnimationsFromStillOnes) {
  // Moving: frames that differ.
  EXPECT_EQ(Distinct(Avi({"frame one", "frame two", "frame one"})), 2u);
  // Still: Wine's placeholders have two frames, the same picture.
  EXPECT_EQ(Distinct(Avi({"the same", "the same"})), 1u);
  EXPECT_EQ(Distinct(Avi({"odd"})), 1u);
  // Not an AVI file, or one cut before its frames.
  const std::string wave = "RIFF____WAVEfmt ";
  EXPECT_EQ(AviDistinctFrames(wave.data(), static_cast<unsigned>(wave.size())), 0u);
  const std::string cut = Avi({"frame one", "frame two"}).substr(0, 100);
  EXPECT_EQ(Distinct(cut), 0u);
}

// A 2 x 2 picture as a BMP file: 24 bits a pixel, rows padded to 4 bytes.
std::string Bmp() {
  std::string b = "BM";
  auto put = [&b](unsigned v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  put(14 + 40 + 16, 4);
  put(0, 4);
  put(14 + 40, 4);
  for (unsigned v : {40u, 2u, 2u}) put(v, 4);
  put(1, 2);
  put(24, 2);
  for (unsigned v : {0u, 16u, 2835u, 2835u, 0u, 0u}) put(v, 4);
  for (int row = 0; row < 2; ++row) b += std::string("\x00\x80\x80\xFF\xFF\xFF\x00\x00", 8);
  return b;
}

TEST(PictureTest, DecodesWithTheImagingComponentAndNamesADamagedFile) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "velmora-picture-test";
  std::filesystem::create_directories(folder);
  auto write = [&folder](const char* name, const std::string& bytes) {
    std::ofstream(folder / name, std::ios::binary) << bytes;
    return folder / name;
  };
  HBITMAP good = DecodePicture(write("p1.bmp", Bmp()));
  ASSERT_NE(good, nullptr);
  BITMAP info{};
  GetObjectW(good, sizeof info, &info);
  EXPECT_EQ(info.bmWidth, 2);
  EXPECT_EQ(info.bmHeight, 2);
  DeleteObject(good);

  struct Case {
    const char* name;
    std::string bytes;  // empty: the file is not there
    const char* message;
  } cases[] = {
      {"p2.jpg", std::string("\xFF\xD8\xFF\xE0 not a picture", 20), "cannot decode the picture "},
      {"p3.jpg", Bmp().substr(0, 60), "cannot decode the picture "},
      {"p4.jpg", "", "cannot open the picture "},
  };
  for (const Case& c : cases) {
    const std::filesystem::path file = c.bytes.empty() ? folder / c.name : write(c.name, c.bytes);
    try {
      DeleteObject(DecodePicture(file));
      ADD_FAILURE() << c.name << " decoded";
    } catch (const std::runtime_error& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.rfind(c.message, 0), 0u) << what;
      EXPECT_NE(what.find(c.name), std::string::npos) << what;  // the file is named
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  CoUninitialize();
}

}  // namespace
}  // namespace dorvik::win
