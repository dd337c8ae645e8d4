// Compact text forms of token streams and trees, for comparing in tests.
#pragma once

#include <cstdio>
#include <string>

#include "text/text.h"

namespace tests_text {

inline std::string Real(float value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.9g", static_cast<double>(value));
  return buffer;
}

// "TAG(A) INT(12) CLOSE(A) END": every token, then END or ERROR.
inline std::string Tokens(const char* source) {
  std::string out;
  const char* cursor = source;
  text::Token token;
  for (;;) {
    int result = text::NextToken(&cursor, &token);
    if (result != 1) return out + (result == 0 ? "END" : "ERROR");
    std::string body(token.text ? std::string(token.text, token.length) : std::string());
    switch (token.kind) {
      case text::NODE_TAG: out += "TAG(" + body + ") "; break;
      case text::NODE_CLOSE: out += "CLOSE(" + body + ") "; break;
      case text::NODE_STRING: out += "STR(" + body + ") "; break;
      case text::NODE_INT: out += "INT(" + std::to_string(token.integer) + ") "; break;
      case text::NODE_REAL: out += "REAL(" + Real(token.real) + ") "; break;
      default: out += "?? "; break;
    }
  }
}

// The children of `node`: tags as "(NAME children)", integers as digits,
// reals with an "f" suffix, strings in quotes.
inline std::string Dump(const text::TagNode* node) {
  std::string out;
  if (!node) return "NULL";
  for (const text::TagNode* child : node->Children()) {
    if (!out.empty()) out += ' ';
    int32_t integer = 0;
    float real = 0;
    switch (child->Kind()) {
      case text::NODE_TAG: {
        std::string inner = Dump(child);
        out += std::string("(") + child->Name() + (inner.empty() ? "" : " " + inner) + ")";
        break;
      }
      case text::NODE_STRING: out += std::string("\"") + child->String() + "\""; break;
      case text::NODE_INT:
        child->GetInt(&integer);
        out += std::to_string(integer);
        break;
      case text::NODE_REAL:
        child->GetReal(&real, text::Numbers::kRealOnly);
        out += Real(real) + "f";
        break;
      default: out += "??"; break;
    }
  }
  return out;
}

// Dump of the parsed root, or "FAIL".
inline std::string ParseDump(const char* source) {
  text::TagDocument document;
  if (text::ParseTagText(&document, source) != 0) {
    return text::RootNode(&document) ? "FAIL-WITH-TREE" : "FAIL";
  }
  return Dump(text::RootNode(&document));
}

}  // namespace tests_text
