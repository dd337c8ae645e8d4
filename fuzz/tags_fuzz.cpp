// The tag reader on any text, and the writer behind it: a tree that parses
// is written out again with TagWriter (reals with every digit they have),
// read back through LoadTagFile, and must come back as the same tree.
#include <cstring>
#include <string>

#include "app/core/core.h"
#include "fuzz/fuzz_support.h"
#include "text/text.h"

namespace {

constexpr size_t kLongestLine = 4000;  // the writer refuses lines past 4095 bytes

// Whether TagWriter can spell this tree: tag names it writes unchanged and
// strings that fit a line.
bool Writable(const text::TagNode* node) {
  if (const char* name = node->Name()) {
    if (!*name || std::strpbrk(name, "<>/") || std::strlen(name) > kLongestLine) return false;
  }
  if (const char* string = node->String()) {
    if (std::strlen(string) > kLongestLine) return false;
  }
  for (const text::TagNode* child : node->Children())
    if (!Writable(child)) return false;
  return true;
}

int Write(text::TagWriter* w, const text::TagNode* node) {
  int r = 0;
  int32_t integer = 0;
  float real = 0.0f;
  switch (node->Kind()) {
    case text::NODE_TAG:
      r |= w->Open(node->Name());
      for (const text::TagNode* child : node->Children()) r |= Write(w, child);
      r |= w->Close(node->Name());
      break;
    case text::NODE_INT:
      node->GetInt(&integer);
      r |= w->Value("%d\n", integer);
      break;
    case text::NODE_REAL:
      // Enough decimals for the exact value of any float: the reader
      // rounds it back to the same one.
      node->GetReal(&real, text::Numbers::kRealOnly);
      r |= w->Value("%.160f\n", static_cast<double>(real));
      break;
    case text::NODE_STRING:
      r |= w->Value("\"%s\"\n", node->String());
      break;
    default:
      break;
  }
  return r;
}

bool Same(const text::TagNode* a, const text::TagNode* b) {
  if (a->Kind() != b->Kind() || a->ChildCount() != b->ChildCount()) return false;
  if ((a->Text() == nullptr) != (b->Text() == nullptr)) return false;
  if (a->Text() && std::strcmp(a->Text(), b->Text()) != 0) return false;
  int32_t ia = 0, ib = 0;
  if (a->GetInt(&ia) && (!b->GetInt(&ib) || ia != ib)) return false;
  float ra = 0.0f, rb = 0.0f;
  if (a->Kind() == text::NODE_REAL &&
      (!a->GetReal(&ra, text::Numbers::kRealOnly) || !b->GetReal(&rb, text::Numbers::kRealOnly) || ra != rb))
    return false;
  for (int i = 0; i < a->ChildCount(); ++i)
    if (!Same(a->Child(i), b->Child(i))) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string source = fuzz::Text(data, size);
  text::TagDocument document;
  if (text::ParseTagText(&document, source.c_str()) != 0) return 0;
  const text::TagNode* root = text::RootNode(&document);
  if (!root || !Writable(root)) return 0;

  core::FilePtr file(core::OpenDataFile("tags.txt", "wt"));
  fuzz::Check(file != nullptr, "cannot open the output file");
  text::TagWriter writer(file.get());
  int written = 0;
  for (const text::TagNode* child : root->Children()) written |= Write(&writer, child);
  fuzz::Check(written == 0, "TagWriter refused a tree the reader produced");
  fuzz::Check(writer.Depth() == 0, "TagWriter's depth did not return to 0");
  file.reset();

  text::TagDocument again;
  fuzz::Check(text::LoadTagFile(&again, "tags.txt") == 0, "written tags do not parse");
  const text::TagNode* root_again = text::RootNode(&again);
  fuzz::Check(root_again && Same(root, root_again), "written tags read back as another tree");
  return 0;
}
