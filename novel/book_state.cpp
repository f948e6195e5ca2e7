#include "novel/book_state.h"

#include <array>
#include <iterator>
#include <cstring>
#include <unordered_map>

#include "novel/book.h"
#include "novel/book_file_name.h"
#include "runtime/files.h"

namespace {

constexpr std::string_view magic = "novelfetch state";
constexpr uint32_t version = 1;
constexpr uint32_t kind_contents = 1;
constexpr uint32_t kind_chapter = 2;
constexpr uint32_t kind_end = 3;
constexpr uint8_t flag_complete = 1;
constexpr uint8_t flag_had_text = 2;
// Sites put placeholders at the newest chapters first; these are fetched again.
constexpr size_t chapters_fetched_again = 3;

constexpr Location at_plan{0x04010185, 0xa4};

// CRC-32 eight bytes at a time (slicing by eight): a 20 MB state file is
// checked in a few milliseconds.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

CrcTables make_crc_tables() {
  CrcTables tables{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint32_t crc = byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0);
    tables[0][byte] = crc;
  }
  for (uint32_t byte = 0; byte < 256; ++byte)
    for (size_t slice = 1; slice < 8; ++slice)
      tables[slice][byte] = (tables[slice - 1][byte] >> 8) ^ tables[0][tables[slice - 1][byte] & 0xFF];
  return tables;
}

uint32_t crc32_more(uint32_t previous, std::string_view bytes) {
  static const CrcTables tables = make_crc_tables();
  uint32_t crc = previous ^ 0xFFFFFFFFu;
  const auto* next = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t left = bytes.size();
  while (left >= 8) {
    const uint32_t low =
        crc ^ (uint32_t{next[0]} | uint32_t{next[1]} << 8 | uint32_t{next[2]} << 16 | uint32_t{next[3]} << 24);
    crc = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^ tables[5][(low >> 16) & 0xFF] ^ tables[4][low >> 24] ^
          tables[3][next[4]] ^ tables[2][next[5]] ^ tables[1][next[6]] ^ tables[0][next[7]];
    next += 8;
    left -= 8;
  }
  while (left-- > 0) crc = (crc >> 8) ^ tables[0][(crc ^ *next++) & 0xFF];
  return crc ^ 0xFFFFFFFFu;
}

uint32_t crc32(std::string_view bytes) { return crc32_more(0, bytes); }

void put_u32(std::string& out, uint32_t value) {
  const char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                         static_cast<char>((value >> 16) & 0xFF), static_cast<char>(value >> 24)};
  out.append(bytes, 4);
}

uint32_t get_u32(std::string_view bytes, size_t at) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data() + at);
  return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

// Adds one record to parts: kind, length, the payload parts, checksum. The
// kind and length and the checksum are kept in heads, the payload is not copied.
void put_record(StateParts& out, uint32_t kind, std::initializer_list<std::string_view> payload) {
  size_t length = 0;
  for (const std::string_view part : payload) length += part.size();
  std::string head;
  put_u32(head, kind);
  put_u32(head, static_cast<uint32_t>(length));
  uint32_t crc = crc32(head);
  for (const std::string_view part : payload) crc = crc32_more(crc, part);
  std::string tail;
  put_u32(tail, crc);
  out.heads.push_back(std::move(head));
  out.heads.push_back(std::move(tail));
  const auto tail_at = std::prev(out.heads.end());
  out.parts.push_back(*std::prev(tail_at));
  out.parts.insert(out.parts.end(), payload);
  out.parts.push_back(*tail_at);
}

// Reads the record at at: its kind and payload; false when the bytes left do
// not hold a whole record whose checksum holds.
bool get_record(std::string_view bytes, size_t& at, uint32_t& kind, std::string_view& payload) {
  if (bytes.size() - at < 12) return false;
  kind = get_u32(bytes, at);
  const size_t length = get_u32(bytes, at + 4);
  if (bytes.size() - at - 12 < length) return false;
  const std::string_view record = bytes.substr(at, 8 + length);
  if (get_u32(bytes, at + 8 + length) != crc32(record)) return false;
  payload = record.substr(8);
  at += 12 + length;
  return true;
}

}  // namespace

StateParts book_state_parts(std::string_view contents_address, std::span<const ChapterState> chapters) {
  StateParts out;
  out.heads.emplace_back(magic);
  put_u32(out.heads.back(), version);
  out.parts.push_back(out.heads.back());
  put_record(out, kind_contents, {contents_address});
  for (const ChapterState& chapter : chapters) {
    std::string head(
        1, static_cast<char>((chapter.complete ? flag_complete : 0) | (chapter.had_text ? flag_had_text : 0)));
    put_u32(head, static_cast<uint32_t>(chapter.address.size()));
    out.heads.push_back(std::move(head));
    put_record(out, kind_chapter, {out.heads.back(), chapter.address, chapter.text});
  }
  std::string count;
  put_u32(count, static_cast<uint32_t>(chapters.size()));
  out.heads.push_back(std::move(count));
  put_record(out, kind_end, {out.heads.back()});
  return out;
}

std::string encode_book_state(std::string_view contents_address, std::span<const ChapterState> chapters) {
  const StateParts parts = book_state_parts(contents_address, chapters);
  std::string out;
  for (const std::string_view part : parts.parts) out.append(part);
  return out;
}

bool decode_book_state(std::string bytes, BookState& state) {
  state = BookState();
  state.bytes = std::move(bytes);
  const std::string_view all = state.bytes;
  size_t at = magic.size() + 4;
  bool whole = false;
  uint32_t kind = 0;
  std::string_view payload;
  if (all.size() >= at && all.starts_with(magic) && get_u32(all, magic.size()) == version &&
      get_record(all, at, kind, payload) && kind == kind_contents) {
    state.contents_address = payload;
    while (get_record(all, at, kind, payload)) {
      if (kind == kind_end) {
        whole = payload.size() == 4 && get_u32(payload, 0) == state.chapters.size() && at == all.size();
        break;
      }
      if (kind != kind_chapter || payload.size() < 5) break;
      const size_t address_length = get_u32(payload, 1);
      if (payload.size() - 5 < address_length) break;
      const auto flags = static_cast<uint8_t>(payload[0]);
      state.chapters.push_back({payload.substr(5, address_length), payload.substr(5 + address_length),
                                (flags & flag_complete) != 0, (flags & flag_had_text) != 0});
    }
  }
  if (!whole) state = BookState();
  return whole;
}

std::vector<ChapterPlan> plan_chapters(const BookState& state, std::span<const std::string_view> addresses) {
  std::unordered_map<std::string_view, int32_t> places;
  places.reserve(state.chapters.size());
  for (size_t j = 0; j < state.chapters.size(); ++j)
    places.insert_or_assign(state.chapters[j].address, static_cast<int32_t>(j));
  const size_t first_fetched_again =
      state.chapters.size() > chapters_fetched_again ? state.chapters.size() - chapters_fetched_again : 0;
  std::vector<ChapterPlan> plans(addresses.size());
  for (size_t i = 0; i < addresses.size(); ++i) {
    const auto found = places.find(addresses[i]);
    if (found == places.end()) continue;
    const ChapterState& previous = state.chapters[static_cast<size_t>(found->second)];
    plans[i].previous = found->second;
    plans[i].taken = previous.complete && previous.had_text && static_cast<size_t>(found->second) < first_fetched_again;
  }
  return plans;
}

ChapterText kept_chapter_text(ChapterText fetched, const ChapterState* previous) {
  if (previous == nullptr || previous->text.empty()) return fetched;
  if (fetched.text.empty() || (!fetched.complete && previous->text.size() > fetched.text.size()))
    return {previous->text, previous->complete};
  return fetched;
}

std::string book_state_file_name(std::string_view book_file) { return std::string(book_file) + book_state_suffix; }

PreviousDownload read_previous_download(const char* contents_address) {
  PreviousDownload previous;
  previous.contents_address = contents_address ? contents_address : "";
  const int32_t n = g_book.chapter_urls.count();
  std::string bytes;
  const Text book_file = book_file_name(g_book.title.get());
  if (read_whole_file(book_state_file_name(book_file.c_str()).c_str(), bytes) &&
      decode_book_state(std::move(bytes), previous.state) &&
      previous.state.contents_address != previous.contents_address)
    previous.state = BookState();
  std::vector<std::string_view> addresses;
  addresses.reserve(static_cast<size_t>(n));
  for (int32_t i = 1; i <= n; ++i) {
    const char* const address = g_book.chapter_urls.at(i, at_plan);
    addresses.emplace_back(address ? address : "");
  }
  previous.chapters = plan_chapters(previous.state, addresses);
  for (const ChapterPlan& plan : previous.chapters) previous.taken += plan.taken ? 1 : 0;
  return previous;
}

bool write_file_in_one_step(const std::string& name, std::span<const std::string_view> parts) {
  const std::string new_copy = name + new_copy_suffix;
  const int32_t file = open_file(new_copy.c_str(), 4);
  if (file == 0) return false;
  bool written = true;
  for (const std::string_view part : parts) {
    written = write_file_bytes(file, part);
    if (!written) break;
  }
  written = written && flush_file(file);
  close_file(file);
  if (written && replace_file(new_copy.c_str(), name.c_str())) return true;
  delete_file(new_copy.c_str());
  return false;
}
