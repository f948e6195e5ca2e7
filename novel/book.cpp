#include "novel/book.h"

Book g_book;

namespace {
Array<Text> one_empty_text() {
  Array<Text> list = Array<Text>::empty();
  list.append(static_cast<const char*>(nullptr));
  return list;
}
}  // namespace

void create_book() {
  g_book.title.reset();
  g_book.chapter_urls = one_empty_text();
  g_book.chapter_names = one_empty_text();
  g_book.chapter_texts = one_empty_text();
  g_book.done_flags = Array<int32_t>::empty();
  g_book.done_flags.append(0);
}

void release_book() {
  g_book.title.reset();
  g_book.chapter_urls.reset();
  g_book.chapter_names.reset();
  g_book.chapter_texts.reset();
  g_book.done_flags.reset();
}
