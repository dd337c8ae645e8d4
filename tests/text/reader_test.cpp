#include <gtest/gtest.h>

#include <cfloat>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/support.h"
#include "tests/text/tree_dump.h"
#include "text/text.h"

using testing_support::TempDir;
using testing_support::WriteFile;
using testing_support::MakeDirs;
using text::TagDocument;
using text::TagNode;
using text::Token;
using tests_text::Dump;
using tests_text::ParseDump;
using tests_text::Tokens;

namespace {

// ---------------------------------------------------------------------------
// Tokenizer
// ---------------------------------------------------------------------------

TEST(Tokenizer, TagsNumbersAndStrings) {
  EXPECT_EQ(Tokens("<A> 12 </A>"), "TAG(A) INT(12) CLOSE(A) END");
  EXPECT_EQ(Tokens("<NAME> \"water\" </NAME>"), "TAG(NAME) STR(water) CLOSE(NAME) END");
  EXPECT_EQ(Tokens("<A> 1.5 -2.25 </A>"), "TAG(A) REAL(1.5) REAL(-2.25) CLOSE(A) END");
  EXPECT_EQ(Tokens("<A B>"), "TAG(A B) END");  // spaces belong to the name
  EXPECT_EQ(Tokens("\"a b\nc\""), "STR(a b\nc) END");
  EXPECT_EQ(Tokens("\"\""), "STR() END");
  EXPECT_EQ(Tokens(""), "END");
}

TEST(Tokenizer, OuterBytesAreSkipped) {
  EXPECT_EQ(Tokens("BL_ONE > / . \t\r\n"), "END");
  EXPECT_EQ(Tokens("<A> BL_ONE </A>"), "TAG(A) CLOSE(A) END");
  EXPECT_EQ(Tokens("x.5"), "INT(5) END");  // ".5" is the integer 5
}

TEST(Tokenizer, NumberConversion) {
  EXPECT_EQ(Tokens("-"), "INT(0) END");
  EXPECT_EQ(Tokens("1-2 "), "INT(1) END");
  EXPECT_EQ(Tokens("--5 "), "INT(0) END");
  EXPECT_EQ(Tokens("007 "), "INT(7) END");
  EXPECT_EQ(Tokens("-.5 "), "REAL(-0.5) END");
  EXPECT_EQ(Tokens("5. "), "REAL(5) END");
  EXPECT_EQ(Tokens("1.5-3 "), "REAL(1.5) END");
  EXPECT_EQ(Tokens("-. "), "REAL(0) END");
  EXPECT_EQ(Tokens("1.5.2 "), "ERROR");
  EXPECT_EQ(Tokens("<A> 1.5.2 </A>"), "TAG(A) ERROR");
}

TEST(Tokenizer, OutOfRangeNumbersSaturate) {
  EXPECT_EQ(Tokens("2147483647 "), "INT(2147483647) END");
  EXPECT_EQ(Tokens("-2147483648 "), "INT(-2147483648) END");
  EXPECT_EQ(Tokens("2147483648 "), "INT(2147483647) END");
  EXPECT_EQ(Tokens("-99999999999999999999999 "), "INT(-2147483648) END");

  const char* cursor;
  Token token;
  std::string huge = "1" + std::string(60, '0') + ".0 ";
  cursor = huge.c_str();
  ASSERT_EQ(text::NextToken(&cursor, &token), 1);
  EXPECT_EQ(token.kind, text::NODE_REAL);
  EXPECT_EQ(token.real, FLT_MAX);
  std::string tiny = "-0." + std::string(60, '0') + "1 ";
  cursor = tiny.c_str();
  ASSERT_EQ(text::NextToken(&cursor, &token), 1);
  EXPECT_EQ(token.real, 0.0f);
}

TEST(Tokenizer, RealsAreCorrectlyRoundedSinglePrecision) {
  const char* samples[] = {"0.1", "123456.789", "-3.14159265358979", "16777217.0", "0.000001"};
  for (const char* sample : samples) {
    std::string source = std::string(sample) + "\n";
    const char* cursor = source.c_str();
    Token token;
    ASSERT_EQ(text::NextToken(&cursor, &token), 1) << sample;
    EXPECT_EQ(token.kind, text::NODE_REAL);
    EXPECT_EQ(token.real, std::strtof(sample, nullptr)) << sample;
  }
}

TEST(Tokenizer, RandomRealsMatchTheCLibrary) {
  // Short and long mantissas, few and many decimals, both signs.
  std::mt19937_64 rng(11);
  for (int i = 0; i < 200000; ++i) {
    std::string number = (rng() % 2) ? "-" : "";
    int whole = static_cast<int>(rng() % 12);
    if (whole == 0 && number.empty()) whole = 1;  // ".5" alone would be the integer 5
    int fraction = static_cast<int>(rng() % 14);
    for (int k = 0; k < whole; ++k) number += static_cast<char>('0' + rng() % 10);
    number += '.';
    for (int k = 0; k < fraction; ++k) number += static_cast<char>('0' + rng() % 10);
    std::string source = number + " ";
    const char* cursor = source.c_str();
    Token token;
    ASSERT_EQ(text::NextToken(&cursor, &token), 1) << number;
    ASSERT_EQ(token.kind, text::NODE_REAL);
    float expected = std::strtof(number.c_str(), nullptr);
    ASSERT_EQ(std::memcmp(&token.real, &expected, sizeof expected), 0)
        << number << " read as " << token.real << ", expected " << expected;
  }
}

TEST(Tokenizer, NumberSwallowsTheByteAfterIt) {
  // The '<' of "</A>" goes with the number, and "/A>" is skipped.
  EXPECT_EQ(Tokens("<A>12</A>"), "TAG(A) INT(12) END");
  // The first quote is lost, x is skipped and the second quote opens "y".
  EXPECT_EQ(Tokens("1\"x\"y\" "), "INT(1) STR(y) END");
  const char* source = "12x<B>";
  const char* cursor = source;
  Token token;
  ASSERT_EQ(text::NextToken(&cursor, &token), 1);
  EXPECT_EQ(cursor, source + 3);
}

TEST(Tokenizer, NumberAtTheEndNeverReadsPastTheTerminator) {
  // Exact-size buffer: under AddressSanitizer any read beyond the zero
  // byte is caught. The bytes after it must not be read as more text.
  const char raw[] = "<A> </A> 7\0<B>";
  char* buffer = static_cast<char*>(std::malloc(sizeof raw));
  std::memcpy(buffer, raw, sizeof raw);
  const char* cursor = buffer;
  Token token;
  ASSERT_EQ(text::NextToken(&cursor, &token), 1);
  ASSERT_EQ(text::NextToken(&cursor, &token), 1);
  ASSERT_EQ(text::NextToken(&cursor, &token), 1);
  EXPECT_EQ(token.kind, text::NODE_INT);
  EXPECT_EQ(token.integer, 7);
  EXPECT_EQ(cursor, buffer + 10);  // still on the terminator
  EXPECT_EQ(text::NextToken(&cursor, &token), 0);
  EXPECT_EQ(cursor, nullptr);
  std::free(buffer);

  for (const char* tail : {"12", "-", "1.5", "3."}) {
    size_t length = std::strlen(tail);
    char* exact = static_cast<char*>(std::malloc(length + 1));
    std::memcpy(exact, tail, length + 1);
    cursor = exact;
    EXPECT_EQ(text::NextToken(&cursor, &token), 1) << tail;
    EXPECT_EQ(text::NextToken(&cursor, &token), 0) << tail;
    std::free(exact);
  }
}

TEST(Tokenizer, TagSyntaxErrorsAndOddClosings) {
  EXPECT_EQ(Tokens("<A/B>"), "CLOSE(B) END");
  EXPECT_EQ(Tokens("<A/>"), "CLOSE() END");
  EXPECT_EQ(Tokens("</>"), "CLOSE() END");
  EXPECT_EQ(Tokens("<>"), "ERROR");
  EXPECT_EQ(Tokens("<A<B>"), "ERROR");
  EXPECT_EQ(Tokens("<A"), "ERROR");
  EXPECT_EQ(Tokens("</A"), "ERROR");
  EXPECT_EQ(Tokens("</A/>"), "ERROR");
  EXPECT_EQ(Tokens("</A<>"), "ERROR");
  EXPECT_EQ(Tokens("\"open"), "ERROR");
  EXPECT_EQ(Tokens("<A> \"x"), "TAG(A) ERROR");
}

TEST(Tokenizer, HighBytesAreOrdinaryCharacters) {
  EXPECT_EQ(Tokens("<\xC3\x89T\xC3\x89> \"\xFF\x80\" </\xC3\x89T\xC3\x89>"),
            "TAG(\xC3\x89T\xC3\x89) STR(\xFF\x80) CLOSE(\xC3\x89T\xC3\x89) END");
  EXPECT_EQ(Tokens("\xFF\xFE"), "END");
}

TEST(Tokenizer, EndAndErrorClearTheCursor) {
  Token token;
  const char* cursor = "  ";
  EXPECT_EQ(text::NextToken(&cursor, &token), 0);
  EXPECT_EQ(cursor, nullptr);
  EXPECT_EQ(text::NextToken(&cursor, &token), 0);  // a cleared cursor stays at the end
  cursor = "<>";
  EXPECT_EQ(text::NextToken(&cursor, &token), -1);
  EXPECT_EQ(cursor, nullptr);
  EXPECT_EQ(text::NextToken(nullptr, &token), 0);
}

// ---------------------------------------------------------------------------
// Tree building
// ---------------------------------------------------------------------------

TEST(TagTree, ValuesAndNesting) {
  EXPECT_EQ(ParseDump("<A> 12 </A>"), "(A 12)");
  EXPECT_EQ(ParseDump("<A> 1.5 </A>"), "(A 1.5f)");
  EXPECT_EQ(ParseDump("<A> .5 </A>"), "(A 5)");
  EXPECT_EQ(ParseDump("<A> - </A>"), "(A 0)");
  EXPECT_EQ(ParseDump("<A> BL_ONE </A>"), "(A)");
  EXPECT_EQ(ParseDump("<A> \"BL_ONE\" </A>"), "(A \"BL_ONE\")");
  EXPECT_EQ(ParseDump("<A> <B> 1 2 </B> \"s\" <C> </C> </A> <D> </D> 3 "),
            "(A (B 1 2) \"s\" (C)) (D) 3");
  EXPECT_EQ(ParseDump(""), "");
  EXPECT_EQ(ParseDump(" just words \n"), "");
}

TEST(TagTree, ClosingRules) {
  EXPECT_EQ(ParseDump("<A> <B> </> </A>"), "(A (B))");
  EXPECT_EQ(ParseDump("<A> <B> </B> <A/> "), "(A (B))");  // "<A/>" closes with an empty name
  EXPECT_EQ(ParseDump("<A> </B>"), "FAIL");
  EXPECT_EQ(ParseDump("</A>"), "FAIL");
  EXPECT_EQ(ParseDump("</>"), "FAIL");
  EXPECT_EQ(ParseDump("<A> <B> </A> </A>"), "FAIL");  // never closes two levels
  EXPECT_EQ(ParseDump("<A> </a>"), "FAIL");            // names compare exactly
  EXPECT_EQ(ParseDump("<A> </A> </A>"), "FAIL");
}

TEST(TagTree, FailuresLeaveNoTree) {
  EXPECT_EQ(ParseDump("<A>12</A>"), "FAIL");  // the '<' went with 12
  EXPECT_EQ(ParseDump("<A> 1.5.2 </A>"), "FAIL");
  EXPECT_EQ(ParseDump("<A> \"x"), "FAIL");
  EXPECT_EQ(ParseDump("<A>"), "FAIL");
  EXPECT_EQ(ParseDump("<A> <> </A>"), "FAIL");

  TagDocument document;
  ASSERT_EQ(text::ParseTagText(&document, "<A> </A>"), 0);
  ASSERT_NE(text::RootNode(&document), nullptr);
  EXPECT_EQ(text::ParseTagText(&document, "<A>"), -1);
  EXPECT_EQ(text::RootNode(&document), nullptr);  // the earlier tree is gone too
  EXPECT_EQ(text::ParseTagText(&document, nullptr), -1);
  EXPECT_EQ(text::ParseTagText(nullptr, "<A> </A>"), -1);
}

TEST(TagTree, OuterLevelSyntaxErrorEndsTheText) {
  EXPECT_EQ(ParseDump("<A> 1 </A> <>"), "(A 1)");
  EXPECT_EQ(ParseDump("<A> </A> \"unterminated <B> </B>"), "(A)");
  EXPECT_EQ(ParseDump("<A> </A> 1.2.3 <B> </B>"), "(A)");
  EXPECT_EQ(ParseDump("<>"), "");
}

TEST(TagTree, RootAndDocumentLifetime) {
  TagDocument document;
  EXPECT_EQ(text::RootNode(&document), nullptr);
  text::FreeTagDocument(&document);  // harmless on an empty document
  ASSERT_EQ(text::ParseTagText(&document, "<A> 1 </A>"), 0);
  const TagNode* root = text::RootNode(&document);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->Kind(), text::NODE_ROOT);
  EXPECT_EQ(root->Text(), nullptr);
  EXPECT_EQ(root->ChildCount(), 1);
  // Parsing again replaces the tree.
  ASSERT_EQ(text::ParseTagText(&document, "<B> </B> <C> </C>"), 0);
  EXPECT_EQ(Dump(text::RootNode(&document)), "(B) (C)");
  text::FreeTagDocument(&document);
  EXPECT_EQ(text::RootNode(&document), nullptr);
  text::FreeTagDocument(&document);
  EXPECT_EQ(text::RootNode(nullptr), nullptr);
}

TEST(TagTree, DeepNestingNeedsNoRecursion) {
  const int depth = 200000;
  std::string source;
  for (int i = 0; i < depth; ++i) source += "<D> ";
  std::string unclosed = source;
  source += "7 ";
  for (int i = 0; i < depth; ++i) source += "</D> ";
  TagDocument document;
  ASSERT_EQ(text::ParseTagText(&document, source.c_str()), 0);
  const TagNode* node = text::RootNode(&document);
  int levels = 0;
  for (const TagNode* next; (next = text::FindChild(node, "D")) != nullptr; node = next) ++levels;
  EXPECT_EQ(levels, depth);
  int32_t value = 0;
  ASSERT_EQ(node->ChildCount(), 1);
  ASSERT_TRUE(node->Child(0)->GetInt(&value));
  EXPECT_EQ(value, 7);
  EXPECT_EQ(text::ParseTagText(&document, unclosed.c_str()), -1);
}

TEST(TagTree, ManyChildrenKeepFileOrder) {
  std::string source = "<L> ";
  for (int i = 0; i < 5000; ++i) source += std::to_string(i) + (i % 2 ? ".5 " : " ");
  source += "</L>";
  TagDocument document;
  ASSERT_EQ(text::ParseTagText(&document, source.c_str()), 0);
  const TagNode* list = text::FindChild(text::RootNode(&document), "L");
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->ChildCount(), 5000);
  for (int i = 0; i < 5000; ++i) {
    float value = 0;
    ASSERT_TRUE(list->Child(i)->GetReal(&value, text::Numbers::kIntOrReal));
    EXPECT_EQ(value, static_cast<float>(i) + (i % 2 ? 0.5f : 0.0f));
    EXPECT_EQ(list->Child(i)->Kind(), i % 2 ? text::NODE_REAL : text::NODE_INT);
  }
  EXPECT_EQ(list->Child(5000), nullptr);
  EXPECT_EQ(list->Child(-1), nullptr);
}

// ---------------------------------------------------------------------------
// FindChild and IsTag
// ---------------------------------------------------------------------------

TEST(FindChild, FirstDirectMatchByExactBytes) {
  TagDocument document;
  ASSERT_EQ(text::ParseTagText(&document,
                               "<P> 5 \"NAME\" <NAME> \"x\" </NAME> <NAME> \"y\" </NAME>"
                               " <Q> <DEEP> </DEEP> </Q> </P>"),
            0);
  const TagNode* p = text::FindChild(text::RootNode(&document), "P");
  ASSERT_NE(p, nullptr);
  const TagNode* found = text::FindChild(p, "NAME");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->Kind(), text::NODE_STRING);  // the string stands first
  EXPECT_EQ(found, p->Child(1));
  EXPECT_EQ(text::FindChild(p, "NAME"), found);  // repeatable, consumes nothing
  EXPECT_EQ(text::FindChild(p, "name"), nullptr);
  EXPECT_EQ(text::FindChild(p, "NAM"), nullptr);
  EXPECT_EQ(text::FindChild(p, "NAMES"), nullptr);
  EXPECT_EQ(text::FindChild(p, "5"), nullptr);     // numbers are passed over
  EXPECT_EQ(text::FindChild(p, "DEEP"), nullptr);  // grandchildren are not searched
  EXPECT_EQ(text::FindChild(text::RootNode(&document), "NAME"), nullptr);
  EXPECT_EQ(text::FindChild(nullptr, "P"), nullptr);
  EXPECT_EQ(text::FindChild(p, nullptr), nullptr);
  EXPECT_NE(text::FindChild(text::FindChild(p, "Q"), "DEEP"), nullptr);

  // Later namesakes are reached by walking the children with IsTag.
  std::vector<std::string> names;
  for (const TagNode* child : p->Children())
    if (text::IsTag(child, "NAME")) names.push_back(child->Child(0)->String());
  EXPECT_EQ(names, (std::vector<std::string>{"x", "y"}));
}

TEST(FindChild, IsTagOnlyForTagsOfThatName) {
  TagDocument document;
  ASSERT_EQ(text::ParseTagText(&document, "\"SHADER\" <SHADER> </SHADER> 1 <SHADERS> </SHADERS>"), 0);
  const TagNode* root = text::RootNode(&document);
  EXPECT_FALSE(text::IsTag(root->Child(0), "SHADER"));  // a string
  EXPECT_TRUE(text::IsTag(root->Child(1), "SHADER"));
  EXPECT_FALSE(text::IsTag(root->Child(1), "shader"));
  EXPECT_FALSE(text::IsTag(root->Child(2), "SHADER"));
  EXPECT_FALSE(text::IsTag(root->Child(3), "SHADER"));
  EXPECT_FALSE(text::IsTag(root, ""));
  EXPECT_FALSE(text::IsTag(nullptr, "SHADER"));
}

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

class TagFileTest : public ::testing::Test {
 protected:
  void SetUp() override { core::StartFileLayer(dir.path()); }
  void TearDown() override { core::StopFileLayer(); }
  TempDir dir;
};

TEST_F(TagFileTest, LoadsThroughTheFileLayer) {
  MakeDirs(dir / "Data/Shaders");
  WriteFile(dir / "Data/Shaders/Water.txt",
            "<SHADER>\n\t<NAME>\n\t\t\"water\"\n\t</NAME>\n</SHADER>\n");
  TagDocument document;
  ASSERT_EQ(text::LoadTagFile(&document, "data\\shaders\\WATER.TXT"), 0);
  EXPECT_EQ(Dump(text::RootNode(&document)), "(SHADER (NAME \"water\"))");
  EXPECT_EQ(text::LoadTagFile(&document, "data/shaders/missing.txt"), -1);
  EXPECT_EQ(text::RootNode(&document), nullptr);
}

TEST_F(TagFileTest, FileEndingInADigit) {
  WriteFile(dir / "digit.txt", "<A> 1 </A>\n42");
  TagDocument document;
  ASSERT_EQ(text::LoadTagFile(&document, "digit.txt"), 0);
  EXPECT_EQ(Dump(text::RootNode(&document)), "(A 1) 42");
  WriteFile(dir / "real.txt", "<A> </A> -2.5");
  ASSERT_EQ(text::LoadTagFile(&document, "real.txt"), 0);
  EXPECT_EQ(Dump(text::RootNode(&document)), "(A) -2.5f");
  WriteFile(dir / "open.txt", "<A> 42");
  EXPECT_EQ(text::LoadTagFile(&document, "open.txt"), -1);
}

TEST_F(TagFileTest, EmptyFaultyAndOddFiles) {
  TagDocument document;
  WriteFile(dir / "empty.txt", "");
  ASSERT_EQ(text::LoadTagFile(&document, "empty.txt"), 0);
  ASSERT_NE(text::RootNode(&document), nullptr);
  EXPECT_EQ(text::RootNode(&document)->ChildCount(), 0);

  WriteFile(dir / "bad.txt", "<A> </B>");
  EXPECT_EQ(text::LoadTagFile(&document, "bad.txt"), -1);
  EXPECT_EQ(text::RootNode(&document), nullptr);

  // A zero byte ends the text.
  WriteFile(dir / "zero.txt", std::string("<A> </A>\0<B>", 12));
  ASSERT_EQ(text::LoadTagFile(&document, "zero.txt"), 0);
  EXPECT_EQ(Dump(text::RootNode(&document)), "(A)");

  // A folder is not a tag file.
  MakeDirs(dir / "folder");
  EXPECT_EQ(text::LoadTagFile(&document, "folder"), -1);
  EXPECT_EQ(text::LoadTagFile(&document, nullptr), -1);
  EXPECT_EQ(text::LoadTagFile(nullptr, "empty.txt"), -1);
}

}  // namespace
