#include "novel/links.h"

#include <algorithm>

#include "platform/code_page_936.h"

namespace {

using Piece = std::string_view;
constexpr size_t none = Piece::npos;

constexpr int32_t first_follow_page = 2;
constexpr int32_t last_follow_page = 50;

bool is_blank_around_equals(unsigned char byte) { return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n'; }

bool is_ascii_white_space(unsigned char byte) { return byte == ' ' || (byte >= '\t' && byte <= '\r'); }

bool is_ascii_letter(unsigned char byte) { return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z'); }

// The width of the character that starts at i: two bytes for a lead byte,
// unless the piece ends after it.
size_t character_width(Piece piece, size_t i) { return ::character_width(piece.data(), i, piece.size()); }

// Removes "." and ".." segments from a path that starts with "/", as RFC 3986
// (5.2.4) does; ".." never climbs above the root.
std::string without_dot_segments(Piece input) {
  std::string output;
  auto drop_last_segment = [&output] {
    const size_t slash = output.rfind('/');
    output.erase(slash == std::string::npos ? 0 : slash);
  };
  while (!input.empty()) {
    if (input.starts_with("../")) {
      input.remove_prefix(3);
    } else if (input.starts_with("./")) {
      input.remove_prefix(2);
    } else if (input.starts_with("/./")) {
      input.remove_prefix(2);
    } else if (input == "/.") {
      input = "/";
    } else if (input.starts_with("/../")) {
      input.remove_prefix(3);
      drop_last_segment();
    } else if (input == "/..") {
      input = "/";
      drop_last_segment();
    } else if (input == "." || input == "..") {
      input = {};
    } else {
      const size_t end = input.find('/', 1);
      const size_t taken = end == none ? input.size() : end;
      output.append(input.substr(0, taken));
      input.remove_prefix(taken);
    }
  }
  return output;
}

}  // namespace

size_t find_characters(Piece piece, Piece sought, size_t from) {
  if (from >= piece.size()) return none;
  const size_t found = search_characters(reinterpret_cast<const unsigned char*>(piece.data()), piece.size(), from,
                                         reinterpret_cast<const unsigned char*>(sought.data()), sought.size(), false);
  return found == SIZE_MAX ? none : found;
}

PageLocation page_location_of(Piece address) {
  PageLocation location;
  const size_t scheme_end = find_characters(address, "://");
  if (scheme_end == none) return location;
  // The rest runs to a second "://", if the address holds one.
  Piece rest = address.substr(scheme_end + 3);
  rest = rest.substr(0, find_characters(rest, "://"));
  // An address without a "/" after the host is read as if it ended with one.
  const size_t last_slash = rest.rfind('/');
  const std::string directory_part =
      last_slash == none ? std::string(rest) + "/" : std::string(rest.substr(0, last_slash + 1));
  // The host ends at the first "/" that is a character of its own. The part
  // always ends with a "/" byte, but when the byte before it starts a two-byte
  // character (an address cut inside a character, "http://\xa9") that "/" is the
  // character's second byte and the search finds none: the last byte then ends
  // the host, and the directory path is "/".
  const size_t first_slash = std::min(find_characters(directory_part, "/"), directory_part.size() - 1);
  location.scheme = address.substr(0, scheme_end);
  location.site_root = std::string(address.substr(0, scheme_end + 3)) + directory_part.substr(0, first_slash);
  location.directory_path = directory_part.substr(first_slash);
  location.known = true;
  return location;
}

std::string full_address(const PageLocation& location, Piece address_part) {
  if (address_part.starts_with('h')) return std::string(address_part);
  if (address_part.starts_with("//")) return location.scheme + ":" + std::string(address_part);
  if (address_part.starts_with('/')) return location.site_root + std::string(address_part);
  // A relative link keeps its query or fragment as it stands; only its path
  // takes part in resolving the dot segments.
  const size_t path_end = address_part.find_first_of("?#");
  std::string path = location.directory_path;
  path.append(address_part.substr(0, path_end));
  std::string address = location.site_root + without_dot_segments(path);
  if (path_end != none) address.append(address_part.substr(path_end));
  return address;
}

bool LinkScan::next(PageLink& link) {
  const unsigned char* bytes = search_.bytes();
  while (!ended_) {
    const int32_t href = search_.find("href", from_);
    if (href < 1) break;
    // "href" is four one-byte characters: what follows starts a character.
    size_t at = static_cast<size_t>(href - 1) + 4;
    while (is_blank_around_equals(bytes[at])) ++at;
    if (bytes[at] != '=') {
      from_ = href + 4;
      continue;
    }
    ++at;
    while (is_blank_around_equals(bytes[at])) ++at;
    const size_t skipped = at;
    const int32_t anchor_end = search_.find("</a>", href);
    // Without a "</a>" after this "href" no later one has one either.
    if (anchor_end < 1) break;
    // No "href" can begin inside this "</a>", which is a character start.
    from_ = anchor_end;
    // The "</a>" lies after the skipped byte, since blanks and "=" are no "<".
    const size_t segment_start = skipped + 1;
    const size_t segment_end = static_cast<size_t>(anchor_end - 1);
    const Piece segment = segment_end > segment_start
                              ? Piece(reinterpret_cast<const char*>(bytes) + segment_start, segment_end - segment_start)
                              : Piece();
    const bool single_quoted = bytes[skipped] == '\'';
    const Piece separator = single_quoted ? "'>" : "\">";
    const size_t separator_at = find_characters(segment, separator);
    link.address_part = segment.substr(0, separator_at);
    link.address_part = link.address_part.substr(0, find_characters(link.address_part, single_quoted ? "'" : "\""));
    link.name_part = separator_at == none ? Piece() : segment.substr(separator_at + 2);
    return true;
  }
  ended_ = true;
  return false;
}

void link_name(const PageLink& link, std::string& name) {
  const Piece part = link.name_part;
  name.clear();
  // Once a "<" has found no ">" after it, no later one will.
  bool closing_bracket_ahead = true;
  size_t at = 0;
  while (at < part.size()) {
    const auto byte = static_cast<unsigned char>(part[at]);
    if (byte == '<' && closing_bracket_ahead && at + 1 < part.size()) {
      const auto next = static_cast<unsigned char>(part[at + 1]);
      if (is_ascii_letter(next) || next == '/' || next == '!') {
        const size_t closing = find_characters(part, ">", at + 1);
        if (closing != none) {
          at = closing + 1;
          continue;
        }
        closing_bracket_ahead = false;
      }
    }
    const size_t width = character_width(part, at);
    name.append(part.substr(at, width));
    at += width;
  }
}

Piece trimmed_name(Piece name) {
  size_t begin = none;
  size_t end = 0;
  for (size_t at = 0; at < name.size();) {
    const size_t width = character_width(name, at);
    const bool blank = width == 1 ? is_ascii_white_space(static_cast<unsigned char>(name[at]))
                                  : name[at] == '\xa1' && name[at + 1] == '\xa1';
    if (!blank) {
      if (begin == none) begin = at;
      end = at + width;
    }
    at += width;
  }
  return begin == none ? Piece() : name.substr(begin, end - begin);
}

Text follow_page_address(const char* chapter_address, int32_t k) {
  if (k < first_follow_page || k > last_follow_page) return {};
  Piece address = chapter_address ? chapter_address : "";
  address = address.substr(0, std::min(find_characters(address, "?"), find_characters(address, "#")));
  const size_t last_slash = address.rfind('/');
  const size_t last_dot = address.rfind('.');
  if (last_slash == none || last_dot == none || last_dot <= last_slash + 1) return {};
  const std::string follow_page =
      std::string(address.substr(0, last_dot)) + "_" + std::to_string(k) + std::string(address.substr(last_dot));
  return Text::copy_of(follow_page.c_str());
}

bool page_links_to(const char* page, const char* base_address, const char* target) {
  const PageLocation location = page_location_of(base_address ? base_address : "");
  if (!location.known || target == nullptr) return false;
  LinkScan scan(page);
  PageLink link;
  while (scan.next(link)) {
    if (full_address(location, link.address_part) == target) return true;
  }
  return false;
}
