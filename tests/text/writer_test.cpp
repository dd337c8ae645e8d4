#include <gtest/gtest.h>

#include <string>

#include "tests/support/support.h"
#include "tests/text/tree_dump.h"
#include "text/text.h"

using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

class TagWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { core::StartFileLayer(dir.path()); }
  void TearDown() override { core::StopFileLayer(); }
  core::File* Open(const char* name) { return core::OpenDataFile(name, "wt"); }
  std::string Finish(core::File* file, const char* name) {
    core::CloseFile(file);
    return ReadFile(dir / name);
  }
  TempDir dir;
};

TEST_F(TagWriterTest, TagValueAndCloseLines) {
  core::File* file = Open("a.txt");
  ASSERT_NE(file, nullptr);
  text::TagWriter w(file);
  EXPECT_EQ(w.Depth(), 0);
  EXPECT_EQ(w.Open("A"), 0);
  EXPECT_EQ(w.Depth(), 1);
  EXPECT_EQ(w.Value("%i\n", 3), 0);
  EXPECT_EQ(w.Close("A"), 0);
  EXPECT_EQ(w.Depth(), 0);
  EXPECT_EQ(Finish(file, "a.txt"), "<A>\n\t3\n</A>\n");
}

TEST_F(TagWriterTest, NestedIndentation) {
  core::File* file = Open("nested.txt");
  text::TagWriter w(file);
  w.Open("PRESET");
  w.Open("DECK");
  w.Open("EFFECT");
  w.Value("\"%s\"\n", "tunnel");
  w.Close("EFFECT");
  w.Open("KEY");
  w.Value("\"%c\"\n", 'Q');
  w.Value("%f\n", 0.75);
  w.Close("KEY");
  w.Close("DECK");
  w.Close("PRESET");
  EXPECT_EQ(w.Depth(), 0);
  EXPECT_EQ(Finish(file, "nested.txt"),
            "<PRESET>\n"
            "\t<DECK>\n"
            "\t\t<EFFECT>\n"
            "\t\t\t\"tunnel\"\n"
            "\t\t</EFFECT>\n"
            "\t\t<KEY>\n"
            "\t\t\t\"Q\"\n"
            "\t\t\t0.750000\n"
            "\t\t</KEY>\n"
            "\t</DECK>\n"
            "</PRESET>\n");
}

TEST_F(TagWriterTest, WrittenTextReadsBack) {
  core::File* file = Open("round.txt");
  text::TagWriter w(file);
  w.Open("SCENE");
  w.Open("NAME");
  w.Value("\"%s\"\n", "a b/<c>");
  w.Close("NAME");
  w.Open("POS");
  w.Value("%f\n%f\n%f\n", 1.0, -2.5, 0.125);
  w.Close("POS");
  w.Open("COUNT");
  w.Value("%i\n", -12);
  w.Close("COUNT");
  w.Close("SCENE");
  Finish(file, "round.txt");

  text::TagDocument document;
  ASSERT_EQ(text::LoadTagFile(&document, "round.txt"), 0);
  EXPECT_EQ(tests_text::Dump(text::RootNode(&document)),
            "(SCENE (NAME \"a b/<c>\") (POS 1f -2.5f 0.125f) (COUNT -12))");
}

TEST_F(TagWriterTest, ForbiddenNamesAreSkippedAsSuccess) {
  core::File* file = Open("skip.txt");
  text::TagWriter w(file);
  for (const char* name : {"A<B", "A>", "/A", "a/b"}) {
    EXPECT_EQ(w.Open(name), 0) << name;
    EXPECT_EQ(w.Close(name), 0) << name;
  }
  EXPECT_EQ(w.Depth(), 0);
  EXPECT_EQ(Finish(file, "skip.txt"), "");
}

TEST_F(TagWriterTest, FailuresWriteNothingAndKeepTheDepth) {
  // No file: nothing to write to.
  text::TagWriter nowhere(nullptr);
  EXPECT_EQ(nowhere.Open("A"), -1);
  EXPECT_EQ(nowhere.Value("%i\n", 1), -1);
  EXPECT_EQ(nowhere.Close("A"), -1);
  EXPECT_EQ(nowhere.Depth(), 0);

  core::File* file = Open("fail.txt");
  text::TagWriter w(file);
  // An empty opening name would write "<>", which no reader accepts.
  EXPECT_EQ(w.Open(""), -1);
  EXPECT_EQ(w.Open(nullptr), -1);
  EXPECT_EQ(w.Close(nullptr), -1);
  std::string long_name(5000, 'N');
  EXPECT_EQ(w.Open(long_name.c_str()), -1);
  std::string long_value(4096, 'v');
  EXPECT_EQ(w.Value("%s", long_value.c_str()), -1);
  EXPECT_EQ(w.Value(nullptr), -1);
  EXPECT_EQ(w.Depth(), 0);
  // 4095 bytes still fit.
  std::string fits(4094, 'v');
  EXPECT_EQ(w.Value("%s\n", fits.c_str()), 0);
  EXPECT_EQ(Finish(file, "fail.txt"), fits + "\n");
}

TEST_F(TagWriterTest, EmptyClosingNameAndUnbalancedCloses) {
  core::File* file = Open("odd.txt");
  text::TagWriter w(file);
  EXPECT_EQ(w.Open("A"), 0);
  EXPECT_EQ(w.Value("%%%i\n", 5), 0);  // '%' formats as usual
  EXPECT_EQ(w.Close(""), 0);           // "</>" closes whatever is open
  EXPECT_EQ(w.Depth(), 0);
  EXPECT_EQ(w.Close("B"), 0);  // more closes than opens: no tabs, not -1
  EXPECT_EQ(w.Depth(), -1);
  EXPECT_EQ(w.Open("C"), 0);
  EXPECT_EQ(w.Depth(), 0);
  EXPECT_EQ(Finish(file, "odd.txt"), "<A>\n\t%5\n</>\n</B>\n<C>\n");
}

// The same little document through `w`, one line per step: Step(w, i)
// performs step i and returns false after the last one.
bool Step(text::TagWriter* w, int step, const char* label) {
  switch (step) {
    case 0: return w->Open("DOC") == 0;
    case 1: return w->Open("NAME") == 0;
    case 2: return w->Value("\"%s\"\n", label) == 0;
    case 3: return w->Close("NAME") == 0;
    case 4: return w->Open("LIST") == 0;
    case 5: return w->Value("%i\n%f\n", step, 0.5) == 0;
    case 6: return w->Open("INNER") == 0;
    case 7: return w->Value("%i\n", -7) == 0;
    case 8: return w->Close("INNER") == 0;
    case 9: return w->Close("LIST") == 0;
    case 10: return w->Close("DOC") == 0;
    default: return false;
  }
}
constexpr int kSteps = 11;

TEST_F(TagWriterTest, InterleavedWritersMatchWritersOneAfterTheOther) {
  {
    core::File* first = Open("first_alone.txt");
    text::TagWriter w(first);
    for (int i = 0; i < kSteps; ++i) ASSERT_TRUE(Step(&w, i, "first"));
    core::CloseFile(first);
  }
  {
    core::File* second = Open("second_alone.txt");
    text::TagWriter w(second);
    for (int i = 0; i < kSteps; ++i) ASSERT_TRUE(Step(&w, i, "second"));
    core::CloseFile(second);
  }

  core::File* first = Open("first_mixed.txt");
  core::File* second = Open("second_mixed.txt");
  text::TagWriter a(first);
  text::TagWriter b(second);
  // The second writer runs two steps behind, so the depths differ at
  // almost every interleaved line.
  for (int i = 0; i < kSteps + 2; ++i) {
    if (i < kSteps) {
      ASSERT_TRUE(Step(&a, i, "first"));
    }
    if (i >= 2) {
      ASSERT_TRUE(Step(&b, i - 2, "second"));
    }
  }
  EXPECT_EQ(a.Depth(), 0);
  EXPECT_EQ(b.Depth(), 0);
  core::CloseFile(first);
  core::CloseFile(second);

  const std::string first_alone = ReadFile(dir / "first_alone.txt");
  EXPECT_NE(first_alone.find("\t\t\t-7\n"), std::string::npos) << first_alone;
  EXPECT_EQ(ReadFile(dir / "first_mixed.txt"), first_alone);
  EXPECT_EQ(ReadFile(dir / "second_mixed.txt"), ReadFile(dir / "second_alone.txt"));
}

TEST_F(TagWriterTest, AFailedSaveLeavesNothingForTheNextWriter) {
  std::string expected;
  {
    core::File* file = Open("clean.txt");
    text::TagWriter w(file);
    for (int i = 0; i < kSteps; ++i) ASSERT_TRUE(Step(&w, i, "doc"));
    core::CloseFile(file);
    expected = ReadFile(dir / "clean.txt");
  }
  {
    // A save that gives up with tags still open, after a failed line.
    core::File* file = Open("failed.txt");
    text::TagWriter w(file);
    for (int i = 0; i < 7; ++i) ASSERT_TRUE(Step(&w, i, "doc"));
    std::string too_long(5000, 'x');
    EXPECT_EQ(w.Value("%s\n", too_long.c_str()), -1);
    EXPECT_EQ(w.Depth(), 3);
    core::CloseFile(file);
  }
  core::File* file = Open("next.txt");
  text::TagWriter next(file);
  EXPECT_EQ(next.Depth(), 0);
  for (int i = 0; i < kSteps; ++i) ASSERT_TRUE(Step(&next, i, "doc"));
  core::CloseFile(file);
  EXPECT_EQ(ReadFile(dir / "next.txt"), expected);
}

}  // namespace
