// Site lines: lines that a site writes into the prose of every chapter page
// (its address, a plea to bookmark it, an advertisement), taken out of the
// chapters before the book is written.
//
// Each chapter's text (the text alone, without its name; code page 936; empty
// for a chapter without text) is split at CR LF into lines. A line's key is the
// line without the ASCII white space (tab, LF, VT, FF, CR, blank) and full-width
// spaces (A1 A1, whole characters only) at its two ends. When at least four
// texts are not empty, a key of at least eight characters (a two-byte character
// counts one) that stands in at least half of them, and in three at the least,
// counted once per chapter, marks a site line: every line with that key leaves
// every text, and the remaining lines are joined again by CR LF. Lines are
// split, and keys trimmed, by whole characters: a CR whose byte is the second
// of a two-byte character ends no line.
#pragma once

#include <span>

#include "runtime/texts.h"

// Removes the site lines from texts in place. A text that loses lines and keeps
// nothing but white space and line breaks becomes empty, a chapter without text;
// texts without site lines are left untouched.
void remove_site_lines(std::span<Text> texts);
