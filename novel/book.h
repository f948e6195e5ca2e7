// The Book: the one process-wide record of the novel being downloaded.
//
// The three chapter lists always have the same number of elements, and index i
// names the same chapter in all three. chapter_texts[i] first holds a copy of the
// chapter's name; the chapter extraction replaces it with the finished chapter
// (name, CR LF, text, CR LF). done_flags holds one flag per chapter worker.
// The Book is created at start-up and released by the program's shutdown hook.
#pragma once

#include <cstdint>

#include "runtime/arrays.h"
#include "runtime/texts.h"

struct Book {
  Text title;
  Array<Text> chapter_urls;
  Array<Text> chapter_names;
  Array<Text> chapter_texts;
  Array<int32_t> done_flags;
};

extern Book g_book;

// Each list holds a single empty element, the title is empty.
void create_book();
// Frees the title, every element of the three text lists, the lists and the flags.
void release_book();
