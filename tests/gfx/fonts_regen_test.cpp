// The committed font images and JIS table are the tools' output: running
// the generators again from Debian's fonts and Python's cp932 codec must
// give the same bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char* const kFontDir = "/usr/share/fonts/X11/misc";

bool ReadAll(const std::string& path, std::vector<char>* pOut)
{
  FILE* f = fopen(path.c_str(), "rb");
  if (!f)
    return false;
  char buf[65536];
  size_t n;
  pOut->clear();
  while ((n = fread(buf, 1, sizeof buf, f)) > 0)
    pOut->insert(pOut->end(), buf, buf + n);
  fclose(f);
  return true;
}

#ifndef _WIN32
bool Exists(const std::string& path)
{
  FILE* f = fopen(path.c_str(), "rb");
  if (f)
    fclose(f);
  return f != nullptr;
}
#endif

// Empty when the generators can run here, else why not.
std::string MissingTools()
{
#ifdef _WIN32
  return "the generators run on the Linux build only";
#else
  std::string python = QV_PYTHON3;
  if (python.empty() || !Exists(python))
    return "python3 not found at configure time";
  static const char* const kFonts[][2] = {{"6x13.pcf.gz", "xfonts-base"},
                                          {"12x13ja.pcf.gz", "xfonts-base"},
                                          {"K12-2004-1.pcf.gz", "xfonts-jisx0213"}};
  for (const auto& font : kFonts)
    if (!Exists(std::string(kFontDir) + "/" + font[0]))
      return std::string(font[0]) + " missing (Debian package " + font[1] + ")";
  return "";
#endif
}

void RunCommand(const std::string& command)
{
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

void ExpectSameBytes(const std::string& generated, const std::string& committed)
{
  std::vector<char> a, b;
  ASSERT_TRUE(ReadAll(generated, &a)) << generated;
  ASSERT_TRUE(ReadAll(committed, &b)) << committed;
  EXPECT_EQ(a.size(), b.size()) << committed;
  EXPECT_TRUE(a == b) << committed << " differs from the regenerated " << generated;
}

TEST(FontRegeneration, ImagesAreByteIdentical)
{
  std::string why = MissingTools();
  if (!why.empty())
    GTEST_SKIP() << "cannot regenerate the font images: " << why;
  std::string out = QV_TEST_WORK_DIR "/fonts_regen";
  RunCommand(std::string("\"") + QV_PYTHON3 + "\" \"" QV_SOURCE_DIR "/tools/fonts/make_font_images.py\" \"" + out +
      "\" " + kFontDir + " 2>/dev/null");
  ExpectSameBytes(out + "/small_font.png", QV_SOURCE_DIR "/gfx/fonts/small_font.png");
  ExpectSameBytes(out + "/large_font.png", QV_SOURCE_DIR "/gfx/fonts/large_font.png");
}

TEST(FontRegeneration, JisTableIsByteIdentical)
{
  std::string why = MissingTools();
  if (!why.empty())
    GTEST_SKIP() << "cannot regenerate the JIS table: " << why;
  std::string out = QV_TEST_WORK_DIR "/fonts_regen_jis0208_table.cpp";
  RunCommand(std::string("\"") + QV_PYTHON3 + "\" \"" QV_SOURCE_DIR "/tools/fonts/make_jis_table.py\" \"" + out + "\"");
  ExpectSameBytes(out, QV_SOURCE_DIR "/gfx/fonts/jis0208_table.cpp");
}

}  // namespace
