#include <gtest/gtest.h>

#include <cstring>

#include "text/text.h"

using text::Numbers;
using text::TagDocument;
using text::TagNode;

namespace {

class KeywordValues : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(text::ParseTagText(&document,
                                 "<R>\n"
                                 "  <S> \"str\" </S>\n"
                                 "  <I> 5 </I>\n"
                                 "  <F> 1.5 </F>\n"
                                 "  <T> <X> </X> </T>\n"
                                 "  <E> </E>\n"
                                 "  <N> -3 2.5 \"w\" <X> </X> </N>\n"
                                 "  \"KEY\" <KEY> 9 </KEY>\n"
                                 "</R>\n"),
              0);
    r = text::FindChild(text::RootNode(&document), "R");
    ASSERT_NE(r, nullptr);
  }
  TagDocument document;
  const TagNode* r = nullptr;
};

TEST_F(KeywordValues, StringsOnlyFromStringNodes) {
  EXPECT_STREQ(text::FindString(r, "S"), "str");
  EXPECT_EQ(text::FindString(r, "I"), nullptr);
  EXPECT_EQ(text::FindString(r, "F"), nullptr);
  EXPECT_EQ(text::FindString(r, "T"), nullptr);  // first child is a tag
  EXPECT_EQ(text::FindString(r, "E"), nullptr);  // no first child
  EXPECT_EQ(text::FindString(r, "MISSING"), nullptr);
  EXPECT_STREQ(text::FindString(r, "N", 2), "w");
  EXPECT_EQ(text::FindString(r, "N", 3), nullptr);  // a tag, not a string
}

TEST_F(KeywordValues, IntegersOnlyFromIntegerNodes) {
  int32_t value = -77;
  EXPECT_FALSE(text::FindInt(r, "F", &value));
  EXPECT_FALSE(text::FindInt(r, "S", &value));
  EXPECT_FALSE(text::FindInt(r, "T", &value));
  EXPECT_FALSE(text::FindInt(r, "E", &value));
  EXPECT_FALSE(text::FindInt(r, "N", &value, 1));  // 2.5
  EXPECT_FALSE(text::FindInt(r, "N", &value, 9));
  EXPECT_FALSE(text::FindInt(r, "N", &value, -1));
  EXPECT_EQ(value, -77);  // untouched by every miss
  ASSERT_TRUE(text::FindInt(r, "I", &value));
  EXPECT_EQ(value, 5);
  ASSERT_TRUE(text::FindInt(r, "N", &value, 0));
  EXPECT_EQ(value, -3);
  EXPECT_FALSE(text::FindInt(r, "I", nullptr));
}

TEST_F(KeywordValues, RealsWithAndWithoutAPoint) {
  float value = -77.0f;
  ASSERT_TRUE(text::FindReal(r, "F", &value, Numbers::kRealOnly));
  EXPECT_EQ(value, 1.5f);
  value = -77.0f;
  EXPECT_FALSE(text::FindReal(r, "I", &value, Numbers::kRealOnly));
  EXPECT_EQ(value, -77.0f);
  ASSERT_TRUE(text::FindReal(r, "I", &value, Numbers::kIntOrReal));
  EXPECT_EQ(value, 5.0f);
  value = -77.0f;
  for (Numbers accept : {Numbers::kIntOrReal, Numbers::kRealOnly}) {
    EXPECT_FALSE(text::FindReal(r, "S", &value, accept));
    EXPECT_FALSE(text::FindReal(r, "T", &value, accept));
    EXPECT_FALSE(text::FindReal(r, "E", &value, accept));
    EXPECT_FALSE(text::FindReal(r, "N", &value, accept, 2));
  }
  EXPECT_EQ(value, -77.0f);
  ASSERT_TRUE(text::FindReal(r, "N", &value, Numbers::kRealOnly, 1));
  EXPECT_EQ(value, 2.5f);
}

TEST_F(KeywordValues, SeveralValuesAllOrNothing) {
  float out[3] = {7.0f, 7.0f, 7.0f};
  ASSERT_TRUE(text::FindReals(r, "N", out, 2, Numbers::kIntOrReal));
  EXPECT_EQ(out[0], -3.0f);
  EXPECT_EQ(out[1], 2.5f);
  EXPECT_EQ(out[2], 7.0f);
  float untouched[3] = {7.0f, 7.0f, 7.0f};
  EXPECT_FALSE(text::FindReals(r, "N", untouched, 2, Numbers::kRealOnly));  // -3 has no point
  EXPECT_FALSE(text::FindReals(r, "N", untouched, 3, Numbers::kIntOrReal));  // "w"
  EXPECT_FALSE(text::FindReals(r, "F", untouched, 2, Numbers::kIntOrReal));  // only one
  EXPECT_FALSE(text::FindReals(r, "MISSING", untouched, 1, Numbers::kIntOrReal));
  EXPECT_FALSE(text::FindReals(r, "F", untouched, -1, Numbers::kIntOrReal));
  for (float v : untouched) EXPECT_EQ(v, 7.0f);
  EXPECT_TRUE(text::FindReals(r, "E", untouched, 0, Numbers::kRealOnly));
}

TEST_F(KeywordValues, AStringNamesakeHasNoValue) {
  // FindChild finds the string "KEY" before the tag; a string has no children.
  int32_t value = -1;
  EXPECT_FALSE(text::FindInt(r, "KEY", &value));
  EXPECT_EQ(text::KeywordValue(r, "KEY"), nullptr);
  EXPECT_EQ(value, -1);
}

TEST_F(KeywordValues, NodeViewsOfEveryKind) {
  const TagNode* root = text::RootNode(&document);
  const TagNode* n = text::FindChild(r, "N");
  ASSERT_NE(n, nullptr);
  ASSERT_EQ(n->ChildCount(), 4);
  const TagNode* integer = n->Child(0);
  const TagNode* real = n->Child(1);
  const TagNode* string = n->Child(2);
  const TagNode* tag = n->Child(3);

  EXPECT_EQ(root->Kind(), text::NODE_ROOT);
  EXPECT_EQ(integer->Kind(), text::NODE_INT);
  EXPECT_EQ(real->Kind(), text::NODE_REAL);
  EXPECT_EQ(string->Kind(), text::NODE_STRING);
  EXPECT_EQ(tag->Kind(), text::NODE_TAG);

  EXPECT_EQ(root->Text(), nullptr);
  EXPECT_EQ(integer->Text(), nullptr);
  EXPECT_EQ(real->Text(), nullptr);
  EXPECT_STREQ(string->Text(), "w");
  EXPECT_STREQ(tag->Text(), "X");

  EXPECT_EQ(string->Name(), nullptr);
  EXPECT_STREQ(tag->Name(), "X");
  EXPECT_EQ(tag->String(), nullptr);
  EXPECT_STREQ(string->String(), "w");
  EXPECT_EQ(integer->String(), nullptr);
  EXPECT_EQ(root->Name(), nullptr);

  int32_t i = 0;
  float f = 0;
  EXPECT_FALSE(root->GetInt(&i));
  EXPECT_FALSE(real->GetInt(&i));
  EXPECT_FALSE(string->GetInt(&i));
  EXPECT_FALSE(tag->GetInt(&i));
  EXPECT_FALSE(root->GetReal(&f, Numbers::kIntOrReal));
  EXPECT_FALSE(string->GetReal(&f, Numbers::kIntOrReal));
  EXPECT_FALSE(tag->GetReal(&f, Numbers::kIntOrReal));
  EXPECT_EQ(i, 0);
  EXPECT_EQ(f, 0.0f);

  EXPECT_EQ(integer->ChildCount(), 0);
  EXPECT_EQ(string->ChildCount(), 0);
  EXPECT_TRUE(real->Children().empty());
}

TEST(KeywordValuesOfFormats, AWrongKindReadsAsAbsent) {
  // An integer where a name is expected must not be read as text, nor an
  // integer where a real with a point is required.
  TagDocument document;
  ASSERT_EQ(text::ParseTagText(&document, "<D> <EFFECT> 5 </EFFECT> <FADER> 1 </FADER> </D>"), 0);
  const TagNode* deck = text::FindChild(text::RootNode(&document), "D");
  EXPECT_EQ(text::FindString(deck, "EFFECT"), nullptr);
  float fader = 0.25f;
  EXPECT_FALSE(text::FindReal(deck, "FADER", &fader, Numbers::kRealOnly));
  EXPECT_EQ(fader, 0.25f);
  EXPECT_TRUE(text::FindReal(deck, "FADER", &fader, Numbers::kIntOrReal));
  EXPECT_EQ(fader, 1.0f);
  EXPECT_EQ(text::FindString(nullptr, "EFFECT"), nullptr);
}

}  // namespace
