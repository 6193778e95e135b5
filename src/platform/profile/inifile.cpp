#include "platform/profile/inifile.h"

#include <cstddef>

namespace profile::ini {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// One line of the text: [begin, end) is its content, next is where the
// following line starts (after CR, LF or CR LF).
struct Line {
  std::size_t begin;
  std::size_t end;
  std::size_t next;
};

class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text), pos_(text.substr(0, kBom.size()) == kBom ? kBom.size() : 0) {}
  bool next(Line& line) {
    if (pos_ >= text_.size()) return false;
    std::size_t e = text_.find_first_of("\r\n", pos_);
    if (e == std::string_view::npos) e = text_.size();
    line.begin = pos_;
    line.end = e;
    if (e < text_.size() && text_[e] == '\r' && e + 1 < text_.size() && text_[e + 1] == '\n')
      line.next = e + 2;
    else
      line.next = e < text_.size() ? e + 1 : e;
    pos_ = line.next;
    return true;
  }

 private:
  std::string_view text_;
  std::size_t pos_;
};

enum class Kind { Blank, Comment, Section, Entry, Other };

struct Parsed {
  Kind kind = Kind::Other;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // entry value, trimmed
  bool hasValue = false;   // an entry line with '='
};

Parsed parse(std::string_view raw) {
  Parsed p;
  if (raw.find('\0') != std::string_view::npos) return p;
  const std::string_view s = Trim(raw);
  if (s.empty()) {
    p.kind = Kind::Blank;
  } else if (s.front() == ';') {
    p.kind = Kind::Comment;
  } else if (s.front() == '[') {
    const std::size_t close = s.find(']');
    if (close == std::string_view::npos) return p;  // not a header we understand
    p.kind = Kind::Section;
    p.name = Trim(s.substr(1, close - 1));
  } else {
    p.kind = Kind::Entry;
    const std::size_t eq = s.find('=');
    if (eq == std::string_view::npos) {
      p.name = s;
    } else {
      p.name = Trim(s.substr(0, eq));
      p.value = Trim(s.substr(eq + 1));
      p.hasValue = true;
    }
  }
  return p;
}

// Where a key stands in the text.
struct Location {
  bool sectionFound = false;
  std::size_t sectionInsert = 0;  // where a new key of the section goes
  bool keyFound = false;
  Line keyLine{};
  Parsed key;
};

Location locate(std::string_view text, std::string_view section, std::string_view key) {
  Location loc;
  section = Trim(section);
  key = Trim(key);
  // Keys before the first header belong to the unnamed section.
  bool inSection = section.empty();
  loc.sectionFound = inSection;
  Lines lines(text);
  Line line{};
  while (lines.next(line)) {
    const Parsed p = parse(text.substr(line.begin, line.end - line.begin));
    if (p.kind == Kind::Section) {
      // Only the first section of a name is searched.
      if (loc.sectionFound) break;
      inSection = NamesEqual(p.name, section);
      if (inSection) {
        loc.sectionFound = true;
        loc.sectionInsert = line.next;
      }
      continue;
    }
    if (!inSection) continue;
    if (p.kind != Kind::Blank) loc.sectionInsert = line.next;
    if (p.kind == Kind::Entry && !loc.keyFound && NamesEqual(p.name, key)) {
      loc.keyFound = true;
      loc.keyLine = line;
      loc.key = p;
      return loc;
    }
  }
  return loc;
}

std::string_view lineEnding(std::string_view text) {
  const std::size_t e = text.find_first_of("\r\n");
  if (e == std::string_view::npos) return "\n";
  if (text[e] == '\r') return (e + 1 < text.size() && text[e + 1] == '\n') ? "\r\n" : "\r";
  return "\n";
}

bool endsWithBreak(std::string_view text) { return text.empty() || text.back() == '\n' || text.back() == '\r'; }

}  // namespace

bool IsBlank(char c) { return (c >= '\t' && c <= '\r') || c == '\x1A' || c == ' '; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

std::optional<std::string> Lookup(std::string_view text, std::string_view section, std::string_view key) {
  const Location loc = locate(text, section, key);
  if (!loc.keyFound || !loc.key.hasValue) return std::nullopt;
  std::string_view v = loc.key.value;
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
  return std::string(v);
}

bool Storable(std::string_view section, std::string_view key, std::string_view value) {
  auto breaks = [](std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos; };
  if (breaks(section) || breaks(key) || breaks(value)) return false;
  const std::string_view s = Trim(section);
  const std::string_view k = Trim(key);
  if (s.empty() || s.find(']') != std::string_view::npos) return false;
  if (k.empty() || k.find('=') != std::string_view::npos || k.front() == ';' || k.front() == '[') return false;
  return true;
}

std::string Assign(std::string_view text, std::string_view section, std::string_view key, std::string_view value,
                   bool* changed) {
  section = Trim(section);
  key = Trim(key);
  while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
  const std::string_view eol = lineEnding(text);
  std::string entry;
  entry.reserve(key.size() + value.size() + 1);
  entry.append(key).append("=").append(value);

  if (changed) *changed = true;
  const Location loc = locate(text, section, key);
  std::string out;
  out.reserve(text.size() + entry.size() + section.size() + 8);
  if (loc.keyFound) {
    // The stored name keeps its spelling; only the value changes.
    std::string line;
    line.append(loc.key.name).append("=").append(value);
    if (text.substr(loc.keyLine.begin, loc.keyLine.end - loc.keyLine.begin) == line) {
      if (changed) *changed = false;
      return std::string(text);
    }
    out.append(text.substr(0, loc.keyLine.begin));
    out.append(line);
    out.append(text.substr(loc.keyLine.end));
  } else if (loc.sectionFound) {
    const std::size_t at = loc.sectionInsert;
    out.append(text.substr(0, at));
    if (!endsWithBreak(out)) out.append(eol);
    out.append(entry).append(eol);
    out.append(text.substr(at));
  } else {
    out.append(text);
    if (!endsWithBreak(out)) out.append(eol);
    const bool onlyBom = out == kBom;
    if (!out.empty() && !onlyBom) out.append(eol);  // a blank line between sections
    out.append("[").append(section).append("]").append(eol);
    out.append(entry).append(eol);
  }
  return out;
}

}  // namespace profile::ini
