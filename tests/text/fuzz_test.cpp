// Random and mutated tag texts. Every text is parsed from an exact-size heap
// copy (so the sanitizers catch any read past the terminator or leak) and
// the result is compared with a small, independent, deliberately naive
// reader written straight from the syntax rules.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/support/support.h"
#include "tests/text/tree_dump.h"
#include "text/text.h"

namespace {

// ---------------------------------------------------------------------------
// The naive reader: byte at a time, producing the same dump format.
// ---------------------------------------------------------------------------

struct RefToken {
  int kind = 0;
  std::string text;
  int32_t integer = 0;
  float real = 0;
};

int RefNext(const std::string& s, size_t* pos, RefToken* token) {
  auto at = [&](size_t i) -> unsigned char {
    return i < s.size() ? static_cast<unsigned char>(s[i]) : 0;
  };
  auto digit = [](unsigned char c) { return c >= '0' && c <= '9'; };
  int state = 0;
  size_t start = 0;
  for (;;) {
    unsigned char c = at(*pos);
    switch (state) {
      case 0:
        if (c == 0) return 0;
        if (c == '"') {
          state = 5;
          start = *pos + 1;
        } else if (c == '-' || digit(c)) {
          state = 3;
          start = *pos;
        } else if (c == '<') {
          state = 1;
          start = *pos + 1;
        }
        ++*pos;
        break;
      case 1:
        if (c == 0 || c == '<') return -1;
        if (c == '/') {
          state = 2;
          start = *pos + 1;
        } else if (c == '>') {
          if (*pos == start) return -1;
          token->kind = text::NODE_TAG;
          token->text = s.substr(start, *pos - start);
          ++*pos;
          return 1;
        }
        ++*pos;
        break;
      case 2:
        if (c == 0 || c == '/' || c == '<') return -1;
        if (c == '>') {
          token->kind = text::NODE_CLOSE;
          token->text = s.substr(start, *pos - start);
          ++*pos;
          return 1;
        }
        ++*pos;
        break;
      case 3:
      case 4:
        if (c == '-' || digit(c)) {
          ++*pos;
          break;
        }
        if (c == '.') {
          if (state == 4) return -1;
          state = 4;
          ++*pos;
          break;
        }
        {
          std::string number = s.substr(start, *pos - start);
          if (state == 3) {
            long long value = std::strtoll(number.c_str(), nullptr, 10);
            if (value > INT32_MAX) value = INT32_MAX;
            if (value < INT32_MIN) value = INT32_MIN;
            token->kind = text::NODE_INT;
            token->integer = static_cast<int32_t>(value);
          } else {
            float value = std::strtof(number.c_str(), nullptr);
            if (std::isinf(value)) value = value > 0 ? FLT_MAX : -FLT_MAX;
            token->kind = text::NODE_REAL;
            token->real = value;
          }
        }
        if (c != 0) ++*pos;
        return 1;
      case 5:
        if (c == 0) return -1;
        if (c == '"') {
          token->kind = text::NODE_STRING;
          token->text = s.substr(start, *pos - start);
          ++*pos;
          return 1;
        }
        ++*pos;
        break;
    }
  }
}

std::string RefDump(const std::string& s) {
  std::string out;
  std::vector<std::string> open;  // names of open tags
  bool root_has_children = false;
  size_t pos = 0;
  RefToken token;
  while (RefNext(s, &pos, &token) == 1) {
    if (token.kind == text::NODE_CLOSE) {
      if (open.empty()) return "FAIL";
      if (!token.text.empty() && token.text != open.back()) return "FAIL";
      open.pop_back();
      out += ")";
      continue;
    }
    // Inside a tag every child follows a space; at the top, all but the first.
    if (!open.empty() || root_has_children) out += ' ';
    if (open.empty()) root_has_children = true;
    switch (token.kind) {
      case text::NODE_TAG:
        out += "(" + token.text;
        open.push_back(token.text);
        break;
      case text::NODE_STRING: out += "\"" + token.text + "\""; break;
      case text::NODE_INT: out += std::to_string(token.integer); break;
      case text::NODE_REAL: out += tests_text::Real(token.real) + "f"; break;
    }
  }
  if (!open.empty()) return "FAIL";
  return out;
}

// ---------------------------------------------------------------------------
// Checks on one text
// ---------------------------------------------------------------------------

// Walks the tree without recursion and checks its shape.
void CheckTree(const text::TagNode* root, const std::string& source) {
  std::vector<const text::TagNode*> stack{root};
  while (!stack.empty()) {
    const text::TagNode* node = stack.back();
    stack.pop_back();
    for (const text::TagNode* child : node->Children()) {
      ASSERT_NE(child, nullptr) << source;
      switch (child->Kind()) {
        case text::NODE_TAG:
          ASSERT_NE(child->Name()[0], '\0') << source;
          ASSERT_EQ(std::strpbrk(child->Name(), "</>"), nullptr) << source;
          stack.push_back(child);
          break;
        case text::NODE_STRING:
          ASSERT_EQ(std::strchr(child->String(), '"'), nullptr) << source;
          [[fallthrough]];
        case text::NODE_INT:
        case text::NODE_REAL:
          ASSERT_EQ(child->ChildCount(), 0) << source;
          break;
        default:
          FAIL() << "node kind " << child->Kind() << " in " << source;
      }
    }
  }
}

void CheckText(const std::string& source) {
  // Exact-size copy, terminator included: nothing after it is readable.
  size_t length = source.size();
  std::unique_ptr<char, decltype(&std::free)> owner(static_cast<char*>(std::malloc(length + 1)),
                                                   &std::free);
  char* buffer = owner.get();
  std::memcpy(buffer, source.data(), length);
  buffer[length] = '\0';

  const char* cursor = buffer;
  text::Token token;
  int result;
  int guard = 0;
  while ((result = text::NextToken(&cursor, &token)) == 1) {
    ASSERT_GE(cursor, buffer);
    ASSERT_LE(cursor, buffer + length);
    ASSERT_LT(++guard, 1 << 20);
  }
  EXPECT_EQ(cursor, nullptr);

  text::TagDocument document;
  int parsed = text::ParseTagText(&document, buffer);
  std::string dump = parsed == 0 ? tests_text::Dump(text::RootNode(&document)) : "FAIL";
  if (parsed == 0) {
    CheckTree(text::RootNode(&document), source);
  } else {
    EXPECT_EQ(text::RootNode(&document), nullptr);
  }
  EXPECT_EQ(dump, RefDump(std::string(buffer))) << "text: " << source;
}

const char kAlphabet[] = "<<>>//\"\"--..0123456789  \n\tABN_x\xC3\xFF";

char RandomByte(std::mt19937& rng) {
  std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof kAlphabet) - 2);
  return kAlphabet[pick(rng)];
}

const char* const kSeeds[] = {
    "<SHADER> <NAME> \"water\" </NAME> <PASS> <BLEND> <SRC> \"BL_ONE\" </SRC> "
    "<DST> \"BL_ONE\" </DST> </BLEND> </PASS> </SHADER>\n",
    "<SCENE>\n\t<OBJECT>\n\t\t<NAME>\n\t\t\t\"box\"\n\t\t</NAME>\n\t\t<POS>\n\t\t\t1.0\n\t\t\t-2.5\n"
    "\t\t\t0.125\n\t\t</POS>\n\t\t<FACES>\n\t\t\t0 1 2 2 3 0\n\t\t</FACES>\n\t</OBJECT>\n</SCENE>\n",
    "<PRESET> <KEY> \"A\" </KEY> <DECK> <DECKNUM> 3 </DECKNUM> <FADER> 1.0 </FADER> "
    "<SPEED> 0.75 </SPEED> </DECK> </PRESET>",
    "<A> <B> </> </A> <C/> 12 -3.5 \"s p\" <D> </D> <>",
};

TEST(TagFuzz, RandomTexts) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> length(0, 160);
  for (int i = 0; i < 20000; ++i) {
    std::string source;
    int n = length(rng);
    for (int k = 0; k < n; ++k) source += RandomByte(rng);
    CheckText(source);
    if (HasFatalFailure() || HasNonfatalFailure()) return;
  }
}

TEST(TagFuzz, MutatedTexts) {
  std::mt19937 rng(77);
  for (int i = 0; i < 20000; ++i) {
    std::string source = kSeeds[i % (sizeof kSeeds / sizeof kSeeds[0])];
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits && !source.empty(); ++e) {
      size_t at = rng() % source.size();
      switch (rng() % 6) {
        case 0: source[at] = RandomByte(rng); break;
        case 1: source.insert(at, 1, RandomByte(rng)); break;
        case 2: source.erase(at, 1 + rng() % 4); break;
        case 3: source.insert(at, source.substr(rng() % source.size(), rng() % 12)); break;
        case 4: source.resize(at); break;
        case 5: std::swap(source[at], source[rng() % source.size()]); break;
      }
    }
    CheckText(source);
    if (HasFatalFailure() || HasNonfatalFailure()) return;
  }
}

TEST(TagFuzz, ZeroBytesEndTheText) {
  std::mt19937 rng(5);
  for (int i = 0; i < 2000; ++i) {
    std::string source = kSeeds[i % (sizeof kSeeds / sizeof kSeeds[0])];
    source[rng() % source.size()] = '\0';
    CheckText(source);
    if (HasFatalFailure() || HasNonfatalFailure()) return;
  }
}

// ---------------------------------------------------------------------------
// Random well-formed trees written by the writer read back unchanged.
// ---------------------------------------------------------------------------

void WriteRandomTree(text::TagWriter* w, std::mt19937& rng, int depth, std::string* expected) {
  int children = static_cast<int>(rng() % 5);
  for (int i = 0; i < children; ++i) {
    if (!expected->empty()) *expected += ' ';
    int kind = static_cast<int>(rng() % 4);
    if (kind == 0 && depth > 6) kind = 1;
    switch (kind) {
      case 0: {
        std::string name = "T" + std::to_string(rng() % 50);
        w->Open(name.c_str());
        std::string inner;
        WriteRandomTree(w, rng, depth + 1, &inner);
        w->Close(name.c_str());
        *expected += "(" + name + (inner.empty() ? "" : " " + inner) + ")";
        break;
      }
      case 1: {
        int32_t value = static_cast<int32_t>(rng());
        w->Value("%i\n", value);
        *expected += std::to_string(value);
        break;
      }
      case 2: {
        // Multiples of 1/64 print exactly with %f.
        float value = static_cast<float>(static_cast<int32_t>(rng() % 2000001) - 1000000) / 64.0f;
        w->Value("%f\n", static_cast<double>(value));
        *expected += tests_text::Real(value) + "f";
        break;
      }
      case 3: {
        std::string value = "s " + std::to_string(rng() % 1000) + " <x/>";
        w->Value("\"%s\"\n", value.c_str());
        *expected += "\"" + value + "\"";
        break;
      }
    }
  }
}

TEST(TagFuzz, WrittenTreesReadBack) {
  testing_support::TempDir dir;
  core::StartFileLayer(dir.path());
  std::mt19937 rng(99);
  for (int i = 0; i < 300; ++i) {
    core::File* file = core::OpenDataFile("tree.txt", "wt");
    ASSERT_NE(file, nullptr);
    text::TagWriter w(file);
    std::string expected;
    w.Open("ROOT");
    WriteRandomTree(&w, rng, 0, &expected);
    w.Close("ROOT");
    core::CloseFile(file);
    ASSERT_EQ(w.Depth(), 0);

    text::TagDocument document;
    ASSERT_EQ(text::LoadTagFile(&document, "tree.txt"), 0);
    EXPECT_EQ(tests_text::Dump(text::RootNode(&document)),
              "(ROOT" + (expected.empty() ? "" : " " + expected) + ")");
  }
  core::StopFileLayer();
}

}  // namespace
