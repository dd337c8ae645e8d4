// Tag reader: tokenizer, tree building, file loading and lookups.
//
// Speed matters for large scene files, so a parse allocates nothing per
// node from the general heap: every node, text and child array of a document
// comes from one arena (blocks that only grow and are freed together), and
// the children of the open tags collect on one shared stack. When a tag
// closes, its run of children on that stack is copied into an exact-size
// array in the arena and the stack shrinks back. Nothing recurses, so
// deeply nested input cannot exhaust the call stack.
#include "text/text.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace text {

// ---------------------------------------------------------------------------
// Arena
// ---------------------------------------------------------------------------

struct TagArena {
  struct Block {
    Block* next;
  };
  Block* blocks = nullptr;
  char* cursor = nullptr;
  size_t left = 0;
  size_t next_block_size = 64 * 1024;

  static constexpr size_t kMaxBlockSize = 4 * 1024 * 1024;
  static constexpr size_t kHeader = (sizeof(Block) + 15) & ~size_t{15};

  ~TagArena() {
    while (blocks) {
      Block* next = blocks->next;
      std::free(blocks);
      blocks = next;
    }
  }

  // `size` bytes aligned to `align` (a power of two up to 16), or nullptr.
  void* Allocate(size_t size, size_t align) {
    size_t pad = (align - (reinterpret_cast<uintptr_t>(cursor) & (align - 1))) & (align - 1);
    if (cursor && pad + size <= left) {
      void* out = cursor + pad;
      cursor += pad + size;
      left -= pad + size;
      return out;
    }
    if (size > SIZE_MAX - kHeader - 16) return nullptr;
    size_t block_size = next_block_size;
    if (block_size < size + 16) block_size = size + 16;
    void* raw = std::malloc(kHeader + block_size);
    if (!raw) return nullptr;
    Block* block = static_cast<Block*>(raw);
    block->next = blocks;
    blocks = block;
    cursor = static_cast<char*>(raw) + kHeader;
    left = block_size;
    if (next_block_size < kMaxBlockSize) next_block_size *= 2;
    // The fresh block is 16-aligned, so this cannot miss.
    return Allocate(size, align);
  }
};

// The only code that builds nodes.
struct TagBuilder {
  static TagNode* NewNode(TagArena* arena, NodeKind kind) {
    void* memory = arena->Allocate(sizeof(TagNode), alignof(TagNode));
    if (!memory) return nullptr;
    TagNode* node = ::new (memory) TagNode();
    node->kind_ = kind;
    return node;
  }

  static TagNode* NewTextNode(TagArena* arena, NodeKind kind, const char* text, size_t length) {
    TagNode* node = NewNode(arena, kind);
    if (!node) return nullptr;
    char* copy = static_cast<char*>(arena->Allocate(length + 1, 1));
    if (!copy) return nullptr;
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    node->value_.text = copy;
    return node;
  }

  static TagNode* NewToken(TagArena* arena, const Token& token) {
    switch (token.kind) {
      case NODE_TAG:
      case NODE_STRING:
        return NewTextNode(arena, token.kind, token.text, token.length);
      case NODE_INT: {
        TagNode* node = NewNode(arena, NODE_INT);
        if (node) node->value_.integer = token.integer;
        return node;
      }
      case NODE_REAL: {
        TagNode* node = NewNode(arena, NODE_REAL);
        if (node) node->value_.real = token.real;
        return node;
      }
      default:
        return nullptr;
    }
  }

  // Gives `node` the children collected on `pending` from `first` on.
  static bool AdoptChildren(TagArena* arena, TagNode* node, core::GrowableArray<TagNode*>* pending,
                            int first) {
    int count = pending->Size() - first;
    if (count <= 0) return true;
    void* memory = arena->Allocate(sizeof(TagNode*) * static_cast<size_t>(count), alignof(TagNode*));
    if (!memory) return false;
    const TagNode** children = static_cast<const TagNode**>(memory);
    std::memcpy(children, pending->Data() + first, sizeof(TagNode*) * static_cast<size_t>(count));
    node->children_ = children;
    node->child_count_ = static_cast<uint32_t>(count);
    pending->Truncate(first);
    return true;
  }
};

bool TagNode::GetInt(int32_t* out) const {
  if (kind_ != NODE_INT) return false;
  *out = value_.integer;
  return true;
}

bool TagNode::GetReal(float* out, Numbers accept) const {
  if (kind_ == NODE_REAL) {
    *out = value_.real;
    return true;
  }
  if (kind_ == NODE_INT && accept == Numbers::kIntOrReal) {
    *out = static_cast<float>(value_.integer);
    return true;
  }
  return false;
}

TagDocument::~TagDocument() { FreeTagDocument(this); }

// ---------------------------------------------------------------------------
// Tokenizer
// ---------------------------------------------------------------------------

namespace {

enum class ByteClass : uint8_t {
  kSkip = 0,
  kEnd,     // the zero byte
  kQuote,   // '"'
  kNumber,  // '-' and '0'-'9'
  kOpen,    // '<'
};

struct ByteTable {
  ByteClass outer[256] = {};
  bool number[256] = {};  // bytes that continue a number: '-' and digits
  constexpr ByteTable() {
    outer[0] = ByteClass::kEnd;
    outer[static_cast<unsigned char>('"')] = ByteClass::kQuote;
    outer[static_cast<unsigned char>('<')] = ByteClass::kOpen;
    outer[static_cast<unsigned char>('-')] = ByteClass::kNumber;
    number[static_cast<unsigned char>('-')] = true;
    for (int c = '0'; c <= '9'; ++c) {
      outer[c] = ByteClass::kNumber;
      number[c] = true;
    }
  }
};
constexpr ByteTable kBytes;

// Optional leading minus, then digits up to the first other byte; a lone
// minus is 0. Values beyond 32 bits saturate.
int32_t ConvertInteger(const char* begin, const char* end) {
  int32_t value = 0;
  core::ScanNumber(std::string_view(begin, static_cast<size_t>(end - begin)), &value);
  return value;
}

// Optional minus, digits, one point, digits, up to the first other byte,
// correctly rounded to single precision. No digits at all give 0; a
// magnitude beyond the float range saturates at FLT_MAX, one below it
// gives 0.
float ConvertReal(const char* begin, const char* end) {
  constexpr core::NumberSyntax kFixed{.exponent = false};
  float value = 0.0f;
  core::NumberScan scan = core::ScanNumber(std::string_view(begin, static_cast<size_t>(end - begin)), &value, kFixed);
  if (scan.status == core::NumberStatus::kOutOfRange && std::isinf(value)) return std::copysign(FLT_MAX, value);
  return value;
}

int Fail(const char** cursor) {
  *cursor = nullptr;
  return -1;
}

}  // namespace

int NextToken(const char** cursor, Token* token) {
  if (!cursor) return 0;
  if (!*cursor || !token) {
    *cursor = nullptr;
    return 0;
  }
  const unsigned char* p = reinterpret_cast<const unsigned char*>(*cursor);
  for (;;) {
    switch (kBytes.outer[*p]) {
      case ByteClass::kSkip:
        ++p;
        continue;

      case ByteClass::kEnd:
        *cursor = nullptr;
        return 0;

      case ByteClass::kQuote: {
        const unsigned char* start = ++p;
        while (*p != '"') {
          if (*p == '\0') return Fail(cursor);
          ++p;
        }
        token->kind = NODE_STRING;
        token->text = reinterpret_cast<const char*>(start);
        token->length = static_cast<size_t>(p - start);
        *cursor = reinterpret_cast<const char*>(p + 1);
        return 1;
      }

      case ByteClass::kOpen: {
        const unsigned char* name = ++p;
        bool closing = false;
        for (;; ++p) {
          unsigned char c = *p;
          if (c == '\0' || c == '<') return Fail(cursor);
          if (c == '/') {
            // "</A>" and "<A/B>" both close; the name restarts after '/'.
            if (closing) return Fail(cursor);
            closing = true;
            name = p + 1;
          } else if (c == '>') {
            break;
          }
        }
        if (!closing && p == name) return Fail(cursor);  // "<>"
        token->kind = closing ? NODE_CLOSE : NODE_TAG;
        token->text = reinterpret_cast<const char*>(name);
        token->length = static_cast<size_t>(p - name);
        *cursor = reinterpret_cast<const char*>(p + 1);
        return 1;
      }

      case ByteClass::kNumber: {
        const unsigned char* start = p;
        while (kBytes.number[*p]) ++p;
        bool real = *p == '.';
        if (real) {
          ++p;
          while (kBytes.number[*p]) ++p;
          if (*p == '.') return Fail(cursor);
        }
        if (real) {
          token->kind = NODE_REAL;
          token->real = ConvertReal(reinterpret_cast<const char*>(start),
                                    reinterpret_cast<const char*>(p));
        } else {
          token->kind = NODE_INT;
          token->integer = ConvertInteger(reinterpret_cast<const char*>(start),
                                          reinterpret_cast<const char*>(p));
        }
        token->text = nullptr;
        token->length = 0;
        // The byte that ended the number goes with it, except the
        // terminator, which the next call must still see.
        *cursor = reinterpret_cast<const char*>(*p ? p + 1 : p);
        return 1;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Tree building
// ---------------------------------------------------------------------------

namespace {

struct OpenTag {
  TagNode* node;
  int first_child;  // where its children start on the pending stack
};

// Compares a zero-terminated name with `length` bytes of a token.
bool NameEquals(const char* name, const char* bytes, size_t length) {
  return std::strncmp(name, bytes, length) == 0 && name[length] == '\0';
}

}  // namespace

int ParseTagText(TagDocument* document, const char* text) {
  if (!document) return -1;
  FreeTagDocument(document);
  if (!text) return -1;

  TagArena* arena = new (std::nothrow) TagArena();
  if (!arena) return -1;
  TagNode* root = TagBuilder::NewNode(arena, NODE_ROOT);
  core::GrowableArray<TagNode*> pending;
  core::GrowableArray<OpenTag> open;
  bool faulty = !root || open.Add(OpenTag{root, 0}) < 0;

  const char* cursor = text;
  Token token;
  // Stops at the end of the text and at a syntax error alike; an error with
  // tags still open fails below because they are never closed.
  while (!faulty && NextToken(&cursor, &token) == 1) {
    if (token.kind == NODE_CLOSE) {
      const OpenTag& top = open.Back();
      if (open.Size() == 1 ||
          (token.length != 0 && !NameEquals(top.node->Name(), token.text, token.length))) {
        faulty = true;
      } else {
        faulty = !TagBuilder::AdoptChildren(arena, top.node, &pending, top.first_child);
        open.Truncate(open.Size() - 1);
      }
      continue;
    }
    TagNode* node = TagBuilder::NewToken(arena, token);
    if (!node || pending.Add(node) < 0) {
      faulty = true;
    } else if (token.kind == NODE_TAG) {
      faulty = open.Add(OpenTag{node, pending.Size()}) < 0;
    }
  }
  if (!faulty) faulty = open.Size() != 1 || !TagBuilder::AdoptChildren(arena, root, &pending, 0);

  if (faulty) {
    delete arena;
    return -1;
  }
  document->root = root;
  document->arena = arena;
  return 0;
}

int LoadTagFile(TagDocument* document, const char* path) {
  // Larger "text" is not a tag file (and would only exhaust memory).
  constexpr long kMaxBytes = 1L << 30;
  if (!document) return -1;
  FreeTagDocument(document);
  core::FilePtr file(core::OpenDataFile(path, "rb"));
  if (!file) return -1;
  if (file->Seek(0, SEEK_END) != 0) return -1;
  long size = file->Tell();
  if (size < 0 || size > kMaxBytes || file->Seek(0, SEEK_SET) != 0) return -1;
  char* buffer = static_cast<char*>(std::malloc(static_cast<size_t>(size) + 1));
  if (!buffer) return -1;
  int result = -1;
  if (size == 0 || file->Read(buffer, static_cast<size_t>(size), 1) == 1) {
    buffer[size] = '\0';
    result = ParseTagText(document, buffer);
  }
  std::free(buffer);
  return result;
}

const TagNode* RootNode(const TagDocument* document) { return document ? document->root : nullptr; }

void FreeTagDocument(TagDocument* document) {
  if (!document) return;
  delete document->arena;
  document->arena = nullptr;
  document->root = nullptr;
}

// ---------------------------------------------------------------------------
// Lookups
// ---------------------------------------------------------------------------

const TagNode* FindChild(const TagNode* node, const char* key) {
  if (!node || !key) return nullptr;
  for (const TagNode* child : node->Children()) {
    const char* text = child->Text();
    if (text && std::strcmp(text, key) == 0) return child;
  }
  return nullptr;
}

bool IsTag(const TagNode* node, const char* key) {
  return node && key && node->Kind() == NODE_TAG && std::strcmp(node->Name(), key) == 0;
}

const TagNode* KeywordValue(const TagNode* node, const char* key, int index) {
  const TagNode* keyword = FindChild(node, key);
  return keyword ? keyword->Child(index) : nullptr;
}

const char* FindString(const TagNode* node, const char* key, int index) {
  const TagNode* value = KeywordValue(node, key, index);
  return value ? value->String() : nullptr;
}

bool FindInt(const TagNode* node, const char* key, int32_t* out, int index) {
  const TagNode* value = KeywordValue(node, key, index);
  return value && out && value->GetInt(out);
}

bool FindReal(const TagNode* node, const char* key, float* out, Numbers accept, int index) {
  const TagNode* value = KeywordValue(node, key, index);
  return value && out && value->GetReal(out, accept);
}

bool FindReals(const TagNode* node, const char* key, float* out, int count, Numbers accept) {
  const TagNode* keyword = FindChild(node, key);
  if (!keyword || !out || count < 0 || count > keyword->ChildCount()) return false;
  float scratch;
  for (int i = 0; i < count; ++i)
    if (!keyword->Child(i)->GetReal(&scratch, accept)) return false;
  for (int i = 0; i < count; ++i) keyword->Child(i)->GetReal(&out[i], accept);
  return true;
}

}  // namespace text
