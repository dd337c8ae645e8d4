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
  void SetUp() override {
    core::StartFileLayer(dir.path());
    start_depth = text::TagDepth();
  }
  void TearDown() override {
    text::ClearTagOutput();
    core::StopFileLayer();
  }
  // Opens `name` for writing and makes it the output.
  core::File* Open(const char* name) {
    core::File* file = core::OpenDataFile(name, "wt");
    text::SetTagOutput(file);
    return file;
  }
  std::string Finish(core::File* file, const char* name) {
    text::ClearTagOutput();
    core::CloseFile(file);
    return ReadFile(dir / name);
  }
  TempDir dir;
  int start_depth = 0;
};

TEST_F(TagWriterTest, TagValueAndCloseLines) {
  ASSERT_EQ(start_depth, 0);
  core::File* file = Open("a.txt");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(text::WriteTag(text::TagDepth(), "A", true), 0);
  EXPECT_EQ(text::TagDepth(), 1);
  EXPECT_EQ(text::WriteTagValue(text::TagDepth(), "%i\n", 3), 0);
  EXPECT_EQ(text::WriteTag(text::TagDepth(), "A", false), 0);
  EXPECT_EQ(text::TagDepth(), 0);
  EXPECT_EQ(Finish(file, "a.txt"), "<A>\n\t3\n</A>\n");
}

TEST_F(TagWriterTest, NestedIndentation) {
  core::File* file = Open("nested.txt");
  text::WriteTag(text::TagDepth(), "PRESET", true);
  text::WriteTag(text::TagDepth(), "DECK", true);
  text::WriteTag(text::TagDepth(), "EFFECT", true);
  text::WriteTagValue(text::TagDepth(), "\"%s\"\n", "tunnel");
  text::WriteTag(text::TagDepth(), "EFFECT", false);
  text::WriteTag(text::TagDepth(), "KEY", true);
  text::WriteTagValue(text::TagDepth(), "\"%c\"\n", 'Q');
  text::WriteTagValue(text::TagDepth(), "%f\n", 0.75);
  text::WriteTag(text::TagDepth(), "KEY", false);
  text::WriteTag(text::TagDepth(), "DECK", false);
  text::WriteTag(text::TagDepth(), "PRESET", false);
  EXPECT_EQ(text::TagDepth(), 0);
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
  text::WriteTag(text::TagDepth(), "SCENE", true);
  text::WriteTag(text::TagDepth(), "NAME", true);
  text::WriteTagValue(text::TagDepth(), "\"%s\"\n", "a b/<c>");
  text::WriteTag(text::TagDepth(), "NAME", false);
  text::WriteTag(text::TagDepth(), "POS", true);
  text::WriteTagValue(text::TagDepth(), "%f\n%f\n%f\n", 1.0, -2.5, 0.125);
  text::WriteTag(text::TagDepth(), "POS", false);
  text::WriteTag(text::TagDepth(), "COUNT", true);
  text::WriteTagValue(text::TagDepth(), "%i\n", -12);
  text::WriteTag(text::TagDepth(), "COUNT", false);
  text::WriteTag(text::TagDepth(), "SCENE", false);
  Finish(file, "round.txt");

  text::TagDocument document;
  ASSERT_EQ(text::LoadTagFile(&document, "round.txt"), 0);
  EXPECT_EQ(tests_text::Dump(text::RootNode(&document)),
            "(SCENE (NAME \"a b/<c>\") (POS 1f -2.5f 0.125f) (COUNT -12))");
}

TEST_F(TagWriterTest, ForbiddenNamesAreSkippedAsSuccess) {
  core::File* file = Open("skip.txt");
  for (const char* name : {"A<B", "A>", "/A", "a/b"}) {
    EXPECT_EQ(text::WriteTag(text::TagDepth(), name, true), 0) << name;
    EXPECT_EQ(text::WriteTag(text::TagDepth(), name, false), 0) << name;
  }
  EXPECT_EQ(text::TagDepth(), 0);
  EXPECT_EQ(Finish(file, "skip.txt"), "");
}

TEST_F(TagWriterTest, FailuresWriteNothingAndKeepTheDepth) {
  // No output set: nothing to write to.
  EXPECT_EQ(text::WriteTag(0, "A", true), -1);
  EXPECT_EQ(text::WriteTagValue(0, "%i\n", 1), -1);
  EXPECT_EQ(text::TagDepth(), 0);

  core::File* file = Open("fail.txt");
  // An empty opening name would write "<>", which no reader accepts.
  EXPECT_EQ(text::WriteTag(0, "", true), -1);
  EXPECT_EQ(text::WriteTag(0, nullptr, true), -1);
  std::string long_name(5000, 'N');
  EXPECT_EQ(text::WriteTag(0, long_name.c_str(), true), -1);
  std::string long_value(4096, 'v');
  EXPECT_EQ(text::WriteTagValue(1, "%s", long_value.c_str()), -1);
  EXPECT_EQ(text::WriteTagValue(1, nullptr), -1);
  EXPECT_EQ(text::TagDepth(), 0);
  // 4095 bytes still fit.
  std::string fits(4094, 'v');
  EXPECT_EQ(text::WriteTagValue(0, "%s\n", fits.c_str()), 0);
  EXPECT_EQ(Finish(file, "fail.txt"), fits + "\n");
}

TEST_F(TagWriterTest, EmptyClosingNameAndOddLevels) {
  core::File* file = Open("odd.txt");
  EXPECT_EQ(text::WriteTag(0, "A", true), 0);
  EXPECT_EQ(text::WriteTagValue(0, "%%%i\n", 5), 0);  // '%' formats as usual
  EXPECT_EQ(text::WriteTag(1, "", false), 0);         // "</>" closes whatever is open
  EXPECT_EQ(text::TagDepth(), 0);
  EXPECT_EQ(text::WriteTag(0, "B", true), 0);
  EXPECT_EQ(text::WriteTag(0, "B", false), 0);  // level 0 closing: no tabs, not -1
  EXPECT_EQ(text::TagDepth(), 0);
  EXPECT_EQ(text::WriteTag(20, "C", true), 0);
  EXPECT_EQ(text::WriteTag(20, "C", false), 0);
  EXPECT_EQ(Finish(file, "odd.txt"),
            "<A>\n%5\n</>\n<B>\n</B>\n" + std::string(20, '\t') + "<C>\n" + std::string(19, '\t') +
                "</C>\n");
}

TEST_F(TagWriterTest, DepthPersistsAcrossOutputs) {
  core::File* first = Open("first.txt");
  text::WriteTag(text::TagDepth(), "A", true);
  text::WriteTag(text::TagDepth(), "B", true);
  EXPECT_EQ(Finish(first, "first.txt"), "<A>\n\t<B>\n");
  EXPECT_EQ(text::TagDepth(), 2);

  core::File* second = Open("second.txt");
  text::WriteTagValue(text::TagDepth(), "%i\n", 1);
  text::WriteTag(text::TagDepth(), "B", false);
  text::WriteTag(text::TagDepth(), "A", false);
  EXPECT_EQ(Finish(second, "second.txt"), "\t\t1\n\t</B>\n</A>\n");
  EXPECT_EQ(text::TagDepth(), 0);
}

}  // namespace
