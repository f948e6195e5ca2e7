#include "runtime/text_search.h"

#include <cstring>

#include "platform/code_page_936.h"

#if defined(NOVELFETCH_X86)
#include <cpuid.h>
#include <emmintrin.h>
#endif

namespace {

#if defined(NOVELFETCH_X86)
bool probe_sse2() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  return (edx & (1u << 26)) != 0;  // CPUID function 1, EDX bit 26
}
#else
bool probe_sse2() { return false; }
#endif

// Set during static initialisation; reads false before that.
const bool g_has_sse2 = probe_sse2();

bool is_letter(unsigned char byte) { return (byte | 0x20) >= 'a' && (byte | 0x20) <= 'z'; }

// The start of the run of bytes of 0x80 and above that ends just before
// position, not going back past origin. That start is a character start: it is
// origin or follows a byte after which a character starts (character_starts_after).
size_t start_of_high_run(const unsigned char* text, size_t origin, size_t position) {
  size_t start = position;
  while (start - origin >= 8) {
    uint64_t word;
    std::memcpy(&word, text + start - 8, sizeof word);
    if (character_starts_after_any(word)) break;
    start -= 8;
  }
  while (start > origin && !character_starts_after(text[start - 1])) --start;
  return start;
}

// Compares up to length bytes, stopping at the first mismatch: the text's
// terminator never matches a byte of sought, so nothing past it is read.
bool bytes_match_in_text(const unsigned char* text, const unsigned char* sought, size_t length, bool ignore_case) {
  for (size_t i = 0; i < length; ++i) {
    if (text[i] != sought[i] && !(ignore_case && g_lower_case_map[text[i]] == g_lower_case_map[sought[i]])) {
      return false;
    }
  }
  return true;
}

#if defined(NOVELFETCH_X86)
// Tests sixteen candidate positions at once on their first and last byte, then
// compares the bytes between for each candidate that passed. A letter is
// compared with bit 5 set on both sides when case is ignored: that admits
// exactly its upper- and lower-case forms.
NOVELFETCH_SSE2_FUNCTION const unsigned char* find_bytes_sse2(const unsigned char* begin, const unsigned char* end,
                                                              const unsigned char* sought, size_t length,
                                                              bool ignore_case) {
  const unsigned char first = sought[0];
  const unsigned char last = sought[length - 1];
  const char first_fold = ignore_case && is_letter(first) ? 0x20 : 0;
  const char last_fold = ignore_case && is_letter(last) ? 0x20 : 0;
  const __m128i first_wanted = _mm_set1_epi8(static_cast<char>(first | first_fold));
  const __m128i first_mask = _mm_set1_epi8(first_fold);
  const __m128i last_wanted = _mm_set1_epi8(static_cast<char>(last | last_fold));
  const __m128i last_mask = _mm_set1_epi8(last_fold);

  const unsigned char* p = begin;
  while (static_cast<size_t>(end - p) >= length + 15) {
    const __m128i heads = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i tails = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + length - 1));
    const __m128i both = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(heads, first_mask), first_wanted),
                                       _mm_cmpeq_epi8(_mm_or_si128(tails, last_mask), last_wanted));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(both));
    while (mask != 0) {
      const unsigned char* candidate = p + __builtin_ctz(mask);
      if (length <= 2 || bytes_match(candidate + 1, sought + 1, length - 2, ignore_case)) return candidate;
      mask &= mask - 1;
    }
    p += 16;
  }
  return find_bytes_portable(p, end, sought, length, ignore_case);
}

// Walks the text in aligned 16-byte blocks, which never cross a page: the bytes
// around the text that they hold are read but masked off, and no block after
// the one holding the terminator is read. Sixteen positions are tested at once
// on their first two bytes; the second bytes come from an unaligned read one
// byte further on, which is only made when the block holds no terminator (so
// the text goes on at least into the next block).
NOVELFETCH_SSE2_FUNCTION NOVELFETCH_READS_AROUND_TEXT size_t find_in_text_sse2(const unsigned char* text, size_t from,
                                                                               const unsigned char* sought,
                                                                               size_t length, bool ignore_case) {
  const unsigned char first = sought[0];
  const unsigned char second = length >= 2 ? sought[1] : 0;
  const char first_fold = ignore_case && is_letter(first) ? 0x20 : 0;
  const char second_fold = ignore_case && is_letter(second) ? 0x20 : 0;
  const __m128i first_wanted = _mm_set1_epi8(static_cast<char>(first | first_fold));
  const __m128i first_mask = _mm_set1_epi8(first_fold);
  const __m128i second_wanted = _mm_set1_epi8(static_cast<char>(second | second_fold));
  const __m128i second_mask = _mm_set1_epi8(second_fold);
  const __m128i zero = _mm_setzero_si128();

  const uintptr_t start = reinterpret_cast<uintptr_t>(text + from);
  const unsigned char* block = reinterpret_cast<const unsigned char*>(start & ~uintptr_t(15));
  unsigned in_text = 0xFFFFu << (start & 15);  // positions at or after from
  const size_t verified = length >= 2 ? 2 : 1;
  for (;;) {
    const __m128i bytes = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
    const unsigned zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero))) & in_text;
    unsigned candidates =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(bytes, first_mask), first_wanted))) &
        in_text;
    if (zeros != 0) {
      // The last block: candidates before the terminator, checked byte by byte.
      candidates &= (zeros & (0u - zeros)) - 1;
      while (candidates != 0) {
        const unsigned char* candidate = block + __builtin_ctz(candidates);
        if (bytes_match_in_text(candidate + 1, sought + 1, length - 1, ignore_case)) {
          return size_t(candidate - text);
        }
        candidates &= candidates - 1;
      }
      return SIZE_MAX;
    }
    if (length >= 2) {
      const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 1));
      candidates &=
          static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(next, second_mask), second_wanted)));
    }
    while (candidates != 0) {
      const unsigned char* candidate = block + __builtin_ctz(candidates);
      if (bytes_match_in_text(candidate + verified, sought + verified, length - verified, ignore_case)) {
        return size_t(candidate - text);
      }
      candidates &= candidates - 1;
    }
    block += 16;
    in_text = 0xFFFFu;
  }
}
#endif

}  // namespace

bool processor_has_sse2() { return g_has_sse2; }

bool bytes_match(const unsigned char* a, const unsigned char* b, size_t length, bool ignore_case) {
  if (!ignore_case) return std::memcmp(a, b, length) == 0;
  for (size_t i = 0; i < length; ++i) {
    if (g_lower_case_map[a[i]] != g_lower_case_map[b[i]]) return false;
  }
  return true;
}

const unsigned char* find_bytes_portable(const unsigned char* begin, const unsigned char* end,
                                         const unsigned char* sought, size_t length, bool ignore_case) {
  if (static_cast<size_t>(end - begin) < length) return end;
  const unsigned char* last_start = end - length;
  const unsigned char first = sought[0];
  if (ignore_case && is_letter(first)) {
    const unsigned char folded = g_lower_case_map[first];
    for (const unsigned char* p = begin; p <= last_start; ++p) {
      if (g_lower_case_map[*p] == folded && bytes_match(p + 1, sought + 1, length - 1, true)) return p;
    }
    return end;
  }
  for (const unsigned char* p = begin; p <= last_start; ++p) {
    p = static_cast<const unsigned char*>(std::memchr(p, first, static_cast<size_t>(last_start - p) + 1));
    if (p == nullptr) return end;
    if (bytes_match(p + 1, sought + 1, length - 1, ignore_case)) return p;
  }
  return end;
}

const unsigned char* find_bytes(const unsigned char* begin, const unsigned char* end, const unsigned char* sought,
                                size_t length, bool ignore_case) {
#if defined(NOVELFETCH_X86)
  if (g_has_sse2) return find_bytes_sse2(begin, end, sought, length, ignore_case);
#endif
  return find_bytes_portable(begin, end, sought, length, ignore_case);
}

// Steps by characters from the character start at to the first character start
// at or after position. A lead byte directly before the terminator steps past
// it; callers cap the result at the text's length. Runs of eight lead bytes
// (all_lead_bytes) are stepped over whole: they hold four characters.
size_t step_to(const unsigned char* text, size_t at, size_t position) {
  while (at < position) {
    if (position - at >= 8) {
      uint64_t word;
      std::memcpy(&word, text + at, sizeof word);
      if (all_lead_bytes(word)) {
        at += 8;
        continue;
      }
    }
    at += is_lead_byte(text[at]) ? 2 : 1;
  }
  return at;
}

size_t character_boundary_at_or_after(const unsigned char* text, size_t origin, size_t position, size_t length) {
  const size_t boundary = step_to(text, start_of_high_run(text, origin, position), position);
  return boundary < length ? boundary : length;
}

bool is_character_boundary(const unsigned char* text, size_t origin, size_t position) {
  return step_to(text, start_of_high_run(text, origin, position), position) == position;
}

size_t search_characters(const unsigned char* text, size_t text_length, size_t origin, const unsigned char* sought,
                         size_t length, bool ignore_case) {
  const unsigned char* end = text + text_length;
  size_t known_start = origin;  // a character start at or before the next candidate
  size_t from = origin;
  for (;;) {
    const unsigned char* hit = find_bytes(text + from, end, sought, length, ignore_case);
    if (hit == end) return SIZE_MAX;
    const size_t candidate = static_cast<size_t>(hit - text);
    if (is_character_boundary(text, known_start, candidate)) return candidate;
    // The candidate is the second byte of the character that starts just before it.
    known_start = candidate - 1;
    from = candidate + 1;
  }
}

size_t find_in_text_portable(const unsigned char* text, size_t from, const unsigned char* sought, size_t length,
                             bool ignore_case) {
  const unsigned char folded = g_lower_case_map[sought[0]];
  const bool fold_first = ignore_case && is_letter(sought[0]);
  for (const unsigned char* p = text + from;; ++p) {
    if (fold_first) {
      while (*p != 0 && g_lower_case_map[*p] != folded) ++p;
    } else {
      p = reinterpret_cast<const unsigned char*>(std::strchr(reinterpret_cast<const char*>(p), sought[0]));
      if (p == nullptr) return SIZE_MAX;
    }
    if (*p == 0) return SIZE_MAX;
    if (bytes_match_in_text(p + 1, sought + 1, length - 1, ignore_case)) return size_t(p - text);
  }
}

size_t find_in_text(const unsigned char* text, size_t from, const unsigned char* sought, size_t length,
                    bool ignore_case) {
#if defined(NOVELFETCH_X86)
  if (g_has_sse2) return find_in_text_sse2(text, from, sought, length, ignore_case);
#endif
  return find_in_text_portable(text, from, sought, length, ignore_case);
}

size_t search_characters_in_text(const unsigned char* text, size_t origin, const unsigned char* sought, size_t length,
                                 bool ignore_case) {
  size_t known_start = origin;
  size_t from = origin;
  for (;;) {
    const size_t candidate = find_in_text(text, from, sought, length, ignore_case);
    if (candidate == SIZE_MAX || is_character_boundary(text, known_start, candidate)) return candidate;
    known_start = candidate - 1;
    from = candidate + 1;
  }
}
