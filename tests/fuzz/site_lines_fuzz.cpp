// Feeds the removal of site lines (novel/site_lines.h): the pieces of the input
// between zero bytes are the chapters' texts (code page 936).
//
// Checks: with fewer than four texts that are not empty nothing changes; a text
// that changes either becomes empty or keeps some of its lines, in their order,
// and only loses lines; a text that was empty stays empty.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.h"
#include "novel/site_lines.h"
#include "runtime/arrays.h"
#include "runtime/text_commands.h"

namespace {

constexpr Location fuzz_at = {0x0401ffff, 1};

// The lines of a text as the runtime splits it at CR LF (by characters).
std::vector<std::string> lines_of(const char* text) {
  const Array<Text> pieces = Array<Text>::adopt(split_text(text, "\r\n"));
  std::vector<std::string> lines;
  for (int32_t i = 1; i <= pieces.count(); ++i) {
    const char* line = pieces.at(i, fuzz_at);
    lines.emplace_back(line ? line : "");
  }
  return lines;
}

// True when every line of kept stands in lines, in the same order.
bool is_subsequence(const std::vector<std::string>& kept, const std::vector<std::string>& lines) {
  size_t next = 0;
  for (const std::string& line : kept) {
    while (next < lines.size() && lines[next] != line) ++next;
    if (next == lines.size()) return false;
    ++next;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  abort_on_message_box();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<FuzzText> pieces = texts_between_zeros(input_bytes(data, size));
  std::vector<Text> texts;
  size_t not_empty = 0;
  for (const FuzzText& piece : pieces) {
    texts.push_back(Text::copy_of(piece.c_str()));
    if (!texts.back().empty()) ++not_empty;
  }
  remove_site_lines(texts);

  for (size_t i = 0; i < texts.size(); ++i) {
    const std::string_view before = pieces[i].view();
    const std::string_view after = texts[i].c_str();
    if (after == before) continue;
    FUZZ_CHECK(not_empty >= 4 && !before.empty() && after.size() < before.size());
    if (!after.empty()) FUZZ_CHECK(is_subsequence(lines_of(texts[i].c_str()), lines_of(pieces[i].c_str())));
  }
  return 0;
}
