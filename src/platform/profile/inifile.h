#pragma once
// The INI text format of the private-profile functions, on a byte buffer.
// Reading and editing are single linear passes over the text; editing
// keeps every byte it does not have to change (comments, blank lines,
// unknown lines, the byte-order mark, the line-end style).
#include <optional>
#include <string>
#include <string_view>

namespace profile::ini {

// The blanks the format trims around names and values: tab to carriage
// return, the old end-of-file mark 0x1A, and space.
bool IsBlank(char c);
std::string_view Trim(std::string_view s);

// Names compare without regard to ASCII case.
bool NamesEqual(std::string_view a, std::string_view b);

// The value of key in section, blanks trimmed and one pair of matching
// quotes removed; nullopt when the section or the key is missing or the key
// line has no '='. Only the first section of that name is searched, and in
// it the first key of that name wins. Lines with NUL bytes are not
// understood and so never match.
std::optional<std::string> Lookup(std::string_view text, std::string_view section, std::string_view key);

// Whether section, key and value can be stored without changing the file's
// structure: no line breaks or NUL anywhere, a section name without ']',
// a key without '=' that does not start like a comment or a section.
bool Storable(std::string_view section, std::string_view key, std::string_view value);

// The text with key in section set to value (leading blanks of value
// dropped). An existing key line is replaced in place; a new key goes after
// the section's last non-blank line; a new section goes at the end.
// Sets *changed to false when the value was already there. Arguments must be
// Storable.
std::string Assign(std::string_view text, std::string_view section, std::string_view key, std::string_view value,
                   bool* changed = nullptr);

}  // namespace profile::ini
