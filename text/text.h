// The tag syntax shared by material scripts, scene text files and preset
// files: a tree of named tags holding numbers, quoted strings and further
// tags, e.g.
//
//   <SHADER> <NAME> "water" </NAME> <PASS> ... </PASS> </SHADER>
//
// The reader turns a whole text into a tree of TagNodes; format readers then
// look keywords up with FindChild / IsTag and read values through the typed
// accessors below, which report a value of the wrong kind as absent. A
// TagWriter prints indented tag text to one file.
//
// The reader knows no keywords. Texts are plain bytes; bytes >= 0x80 are
// ordinary characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "app/core/core.h"

namespace text {

enum NodeKind : int32_t {
  NODE_ROOT = 0,
  NODE_TAG = 1,
  NODE_CLOSE = 2,  // a token kind only; never stands in a tree
  NODE_INT = 3,
  NODE_REAL = 4,
  NODE_STRING = 5,
};

// Which number kinds a real-valued field accepts.
enum class Numbers {
  kIntOrReal,  // 1 and 1.0 both read as 1.0
  kRealOnly,   // the field must be written with a decimal point
};

struct TagArena;

// One node of a parsed text. Nodes live in their document's memory and are
// read-only for everyone but the parser.
class TagNode {
 public:
  NodeKind Kind() const { return kind_; }

  // The tag name (NODE_TAG) or the quoted text (NODE_STRING); nullptr for
  // the root and numbers. This is what FindChild compares.
  const char* Text() const {
    return kind_ == NODE_TAG || kind_ == NODE_STRING ? value_.text : nullptr;
  }
  // The name of a NODE_TAG; nullptr for any other kind.
  const char* Name() const { return kind_ == NODE_TAG ? value_.text : nullptr; }
  // The text of a NODE_STRING; nullptr for any other kind.
  const char* String() const { return kind_ == NODE_STRING ? value_.text : nullptr; }
  // A NODE_INT's value. False (and *out untouched) for any other kind.
  bool GetInt(int32_t* out) const;
  // A NODE_REAL's value, or a NODE_INT's when `accept` allows it. False
  // (and *out untouched) otherwise.
  bool GetReal(float* out, Numbers accept) const;

  // Children in file order; only the root and tags have any.
  int ChildCount() const { return static_cast<int>(child_count_); }
  // The child at `index`, or nullptr outside 0..ChildCount()-1.
  const TagNode* Child(int index) const {
    return index >= 0 && static_cast<uint32_t>(index) < child_count_ ? children_[index] : nullptr;
  }
  std::span<const TagNode* const> Children() const { return {children_, child_count_}; }

 private:
  friend struct TagBuilder;
  TagNode() = default;

  NodeKind kind_ = NODE_ROOT;
  uint32_t child_count_ = 0;
  union {
    const char* text;
    int32_t integer;
    float real;
  } value_{nullptr};
  const TagNode* const* children_ = nullptr;
};

// A parsed text. Owns its tree (or none after a failed parse or after
// FreeTagDocument); the destructor frees it too.
struct TagDocument {
  TagDocument() = default;
  ~TagDocument();
  TagDocument(const TagDocument&) = delete;
  TagDocument& operator=(const TagDocument&) = delete;

  TagNode* root = nullptr;
  TagArena* arena = nullptr;  // every node and text of the tree
};

// ---------------------------------------------------------------------------
// Reader
// ---------------------------------------------------------------------------

// One token of a text. Texts point into the source and are not terminated.
struct Token {
  NodeKind kind = NODE_ROOT;
  const char* text = nullptr;  // NODE_TAG, NODE_CLOSE, NODE_STRING
  size_t length = 0;
  int32_t integer = 0;  // NODE_INT
  float real = 0.0f;    // NODE_REAL
};

// Reads the next token at *cursor: 1 a token was produced (the cursor moves
// past it), 0 the end of the text, -1 a syntax error. On 0 and -1 the cursor
// becomes nullptr; a nullptr cursor reads as the end of the text.
//
// Outside tags and strings every byte but '"', '-', digits, '<' and the zero
// byte is skipped, so bare words vanish and ".5" reads as 5. A number takes
// the byte that ended it along (write white space after numbers); a number
// ended by the end of the text is returned and the next call reports the end.
int NextToken(const char** cursor, Token* token);

// Parses a zero-terminated text into the document (freeing any tree it
// held). 0 on success; -1 on faulty text (no tree is kept). A syntax error
// while no tag is open ends the text instead: what came before is kept.
int ParseTagText(TagDocument* document, const char* text);

// Reads a whole file through the file layer and parses it. -1 when the file
// cannot be opened or read completely, is larger than 1 GiB (no tag file
// is; a folder can report such a size), or does not parse.
int LoadTagFile(TagDocument* document, const char* path);

// The root node (NODE_ROOT, no value), or nullptr when the document is empty.
const TagNode* RootNode(const TagDocument* document);

// Destroys the tree; harmless on an empty document.
void FreeTagDocument(TagDocument* document);

// The first direct child of `node` whose Text() equals `key` byte for byte
// (tags by name, strings by text; numbers are passed over), or nullptr.
// Null-safe, so lookups chain: FindChild(FindChild(root, "SHADER"), "NAME").
const TagNode* FindChild(const TagNode* node, const char* key);

// True only for a NODE_TAG named exactly `key`.
bool IsTag(const TagNode* node, const char* key);

// ---------------------------------------------------------------------------
// Keyword values. The value of a keyword is the first child of the node that
// FindChild(node, key) returns; further values are its following children.
// A missing keyword, a missing value or a value of another kind is absent:
// the getters then return nullptr / false and leave *out untouched.
// ---------------------------------------------------------------------------

// The `index`-th child of FindChild(node, key), of any kind, or nullptr.
const TagNode* KeywordValue(const TagNode* node, const char* key, int index = 0);
const char* FindString(const TagNode* node, const char* key, int index = 0);
bool FindInt(const TagNode* node, const char* key, int32_t* out, int index = 0);
bool FindReal(const TagNode* node, const char* key, float* out, Numbers accept, int index = 0);
// Reads the first `count` values of a keyword (a colour, a vector). True
// only when all of them are there and readable; otherwise `out` is untouched.
bool FindReals(const TagNode* node, const char* key, float* out, int count, Numbers accept);

// ---------------------------------------------------------------------------
// Writer
// ---------------------------------------------------------------------------

// Prints indented tag text to one file: each tag or value on its own line,
// indented by the nesting depth in tabs. The writer owns its depth, so
// writers never disturb each other and a save that fails midway leaves
// nothing behind for the next one.
//
//   text::TagWriter w(file);
//   w.Open("NAME"); w.Value("\"%s\"\n", name); w.Close("NAME");
class TagWriter {
 public:
  // Writes go to `file`, which the caller opens, closes and keeps alive
  // while the writer is used. With nullptr every write fails.
  explicit TagWriter(core::File* file) : file_(file) {}
  TagWriter(const TagWriter&) = delete;
  TagWriter& operator=(const TagWriter&) = delete;

  // "<name>\n" after Depth() tabs, then one level in.
  int Open(const char* name) { return WriteTag(name, true); }
  // "</name>\n" after Depth() - 1 tabs, then one level out. An empty name
  // writes "</>", which closes whatever tag is open.
  int Close(const char* name) { return WriteTag(name, false); }
  // For both: a name holding '<', '>' or '/' is skipped (nothing written,
  // 0). -1, with nothing written and the depth unchanged, when there is no
  // file, the opening name is empty (the reader would reject "<>") or the
  // line exceeds 4095 bytes.

  // Depth() tabs and the printf-formatted text (no line end is added: end
  // the format with "\n"). -1, with nothing written, when there is no file
  // or the text cannot be formatted into 4095 bytes.
  int Value(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Tags opened and not yet closed. Closing more than was opened goes
  // below 0; lines are then written without tabs.
  int Depth() const { return depth_; }

 private:
  int WriteTag(const char* name, bool open);
  void WriteTabs(int count);

  core::File* file_;
  int depth_ = 0;
};

}  // namespace text
