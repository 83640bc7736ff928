// Profile text on the file's own units: bytes for 8-bit files, 16-bit units for UTF-16LE.
// Only ASCII characters ("[", "]", "=", blanks, line breaks) give a line its shape, and UTF-8
// never uses those bytes inside a longer sequence, so both kinds are parsed by the same code on
// their raw units and only names and values are decoded.

#include "platform/posix/profile_text.h"

#include <algorithm>
#include <type_traits>
#include <vector>

#include "common/utf.h"
#include "common/windows_names.h"

namespace tarvo {

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Blanks around names and values: ASCII white space and ^Z, the old end-of-file mark.
bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f' || c == u'\r' || c == u'\n' ||
         c == 0x1A;
}

bool IsLineBreak(char16_t c) { return c == u'\r' || c == u'\n'; }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
  a = Trim(a);
  b = Trim(b);
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char16_t x, char16_t y) { return FoldAsciiCase(x) == FoldAsciiCase(y); });
}

// A file's text as units of its encoding, with what lies around the text.
template <typename Unit>
struct Units {
  std::basic_string<Unit> text;  // the byte-order mark included
  std::size_t start = 0;         // where the first line begins, past the byte-order mark
  std::string tail;              // an odd last byte of a UTF-16LE file, kept as it is
};

template <typename Unit>
char16_t At(const std::basic_string<Unit>& text, std::size_t i) {
  return static_cast<char16_t>(static_cast<std::make_unsigned_t<Unit>>(text[i]));
}

std::u16string Decode(const std::string& text, std::size_t from, std::size_t to) {
  return Utf8ToUtf16(std::string_view(text).substr(from, to - from));
}
std::u16string Decode(const std::u16string& text, std::size_t from, std::size_t to) {
  return text.substr(from, to - from);
}

// The units that store `text`; nothing when the encoding cannot hold it.
template <typename Unit>
std::optional<std::basic_string<Unit>> Encode(std::u16string_view text) {
  if constexpr (std::is_same_v<Unit, char>) {
    std::string bytes = Utf16ToUtf8(text);
    if (Utf8ToUtf16(bytes) != text) return std::nullopt;
    return bytes;
  } else {
    return std::u16string(text);
  }
}

bool IsUtf16(std::string_view bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
         static_cast<unsigned char>(bytes[1]) == 0xFE;
}

Units<char> Load8Bit(std::string_view bytes) {
  Units<char> units;
  units.text = std::string(bytes);
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") units.start = 3;
  return units;
}

Units<char16_t> LoadUtf16(std::string_view bytes) {
  Units<char16_t> units;
  units.text.resize(bytes.size() / 2);
  for (std::size_t i = 0; i < units.text.size(); ++i) {
    units.text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                          static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  }
  units.start = 1;
  if (bytes.size() % 2 != 0) units.tail = std::string(bytes.substr(bytes.size() - 1));
  return units;
}

std::string Store(const Units<char>& units) { return units.text; }

std::string Store(const Units<char16_t>& units) {
  std::string bytes;
  bytes.reserve(units.text.size() * 2 + units.tail.size());
  for (const char16_t c : units.text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes + units.tail;
}

enum class LineKind { Blank, Header, Key };

// One line, as positions in the units.
struct Line {
  std::size_t begin = 0;
  std::size_t contentEnd = 0;  // where the line break begins
  std::size_t end = 0;         // past the line break
  LineKind kind = LineKind::Blank;
  std::u16string name;        // a header's section name or a key's name, trimmed
  std::size_t nameEnd = 0;    // keys: end of the trimmed name
  std::size_t equals = npos;  // keys: the "=", or npos when there is none
};

// A section: its header line (npos for the lines before the first header) and the lines after
// it up to the next header.
struct Section {
  std::size_t header = npos;
  std::size_t first = 0;
  std::size_t last = 0;  // exclusive
};

template <typename Unit>
class Profile {
 public:
  explicit Profile(Units<Unit> units) : m_units(std::move(units)) { Parse(); }

  std::optional<std::u16string> Find(std::u16string_view section, std::u16string_view key) const {
    const std::optional<Section> found = FindSection(section);
    if (!found) return std::nullopt;
    const std::size_t index = FindKey(*found, key);
    if (index == npos || m_lines[index].equals == npos) return std::nullopt;
    const Line& line = m_lines[index];
    std::size_t from = line.equals + 1, to = line.contentEnd;
    for (std::size_t i = from; i < to; ++i) {
      if (At(Text(), i) == 0) to = i;
    }
    while (from < to && IsBlank(At(Text(), from))) ++from;
    while (to > from && IsBlank(At(Text(), to - 1))) --to;
    if (to - from >= 2 && At(Text(), from) == At(Text(), to - 1) &&
        (At(Text(), from) == u'"' || At(Text(), from) == u'\'')) {
      ++from;
      --to;
    }
    return Decode(Text(), from, to);
  }

  // The file's bytes with the key set; nothing when the encoding cannot hold the names or value.
  std::optional<std::string> Set(std::u16string_view section, std::u16string_view key,
                                 std::u16string_view value) const {
    const auto sectionUnits = Encode<Unit>(section);
    const auto keyUnits = Encode<Unit>(key);
    const auto valueUnits = Encode<Unit>(value);
    if (!sectionUnits || !keyUnits || !valueUnits) return std::nullopt;
    const std::basic_string<Unit> eol = LineEnding();

    std::size_t from, to;  // the units replaced
    std::basic_string<Unit> insert;
    const std::optional<Section> found = FindSection(section);
    if (found) {
      const std::size_t index = FindKey(*found, key);
      if (index != npos) {
        const Line& line = m_lines[index];
        if (line.equals != npos) {
          // The blanks after "=" stay, unless the value brings its own: writing the same
          // value again must leave the same line.
          from = line.equals + 1;
          if (value.empty() || !IsBlank(value.front())) {
            while (from < line.contentEnd && IsBlank(At(Text(), from))) ++from;
          }
        } else {
          from = line.nameEnd;
          insert = Ascii("=");
        }
        to = line.contentEnd;
        insert += *valueUnits;
      } else {
        from = to = EndOfContent(*found);
        if (from > m_units.start && !IsLineBreak(At(Text(), from - 1))) insert = eol;
        insert += *keyUnits + Ascii("=") + *valueUnits + eol;
      }
    } else {
      from = to = Text().size();
      if (from > m_units.start && !IsLineBreak(At(Text(), from - 1))) insert = eol;
      insert += Ascii("[") + *sectionUnits + Ascii("]") + eol + *keyUnits + Ascii("=") +
                *valueUnits + eol;
    }
    if constexpr (std::is_same_v<Unit, char>) {
      // A key written first in a file without a byte-order mark must not make one.
      if (from == 0 && insert.starts_with("\xEF\xBB\xBF")) return std::nullopt;
    }
    Units<Unit> edited = m_units;
    edited.text.replace(from, to - from, insert);
    return Store(edited);
  }

 private:
  const std::basic_string<Unit>& Text() const { return m_units.text; }

  static std::basic_string<Unit> Ascii(std::string_view text) {
    return std::basic_string<Unit>(text.begin(), text.end());
  }

  void Parse() {
    const auto& text = Text();
    for (std::size_t pos = m_units.start; pos < text.size();) {
      Line line;
      line.begin = pos;
      line.contentEnd = pos;
      while (line.contentEnd < text.size() && !IsLineBreak(At(text, line.contentEnd))) {
        ++line.contentEnd;
      }
      line.end = line.contentEnd;
      if (line.end < text.size()) {
        const bool crlf = At(text, line.end) == u'\r' && line.end + 1 < text.size() &&
                          At(text, line.end + 1) == u'\n';
        line.end += crlf ? 2 : 1;
      }
      ParseLine(line);
      m_lines.push_back(std::move(line));
      pos = m_lines.back().end;
    }
  }

  void ParseLine(Line& line) const {
    const auto& text = Text();
    std::size_t p = line.begin;
    while (p < line.contentEnd && IsBlank(At(text, p))) ++p;
    if (p == line.contentEnd) return;
    if (At(text, p) == u'[') {
      // The name runs to the last "]", so that a name may hold "]" itself.
      for (std::size_t close = line.contentEnd - 1; close > p; --close) {
        if (At(text, close) == u']') {
          line.kind = LineKind::Header;
          line.name = std::u16string(Trim(Decode(text, p + 1, close)));
          return;
        }
      }
    }
    line.kind = LineKind::Key;
    std::size_t nameEnd = line.contentEnd;
    for (std::size_t i = p; i < line.contentEnd; ++i) {
      if (At(text, i) == u'=') {
        line.equals = nameEnd = i;
        break;
      }
    }
    while (nameEnd > p && IsBlank(At(text, nameEnd - 1))) --nameEnd;
    line.nameEnd = nameEnd;
    line.name = Decode(text, p, nameEnd);
  }

  std::optional<Section> FindSection(std::u16string_view name) const {
    Section section;
    bool matches = SameName(name, u"");
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
      if (m_lines[i].kind != LineKind::Header) continue;
      if (matches) {
        section.last = i;
        return section;
      }
      matches = SameName(name, m_lines[i].name);
      section = Section{i, i + 1, i + 1};
    }
    if (!matches) return std::nullopt;
    section.last = m_lines.size();
    return section;
  }

  std::size_t FindKey(const Section& section, std::u16string_view key) const {
    for (std::size_t i = section.first; i < section.last; ++i) {
      if (m_lines[i].kind == LineKind::Key && SameName(key, m_lines[i].name)) return i;
    }
    return npos;
  }

  // Where a new key of the section goes: after its last non-blank line, so that blank lines
  // that set it apart from the next section stay where they are.
  std::size_t EndOfContent(const Section& section) const {
    for (std::size_t i = section.last; i > section.first; --i) {
      if (m_lines[i - 1].kind != LineKind::Blank) return m_lines[i - 1].end;
    }
    return section.header != npos ? m_lines[section.header].end : m_units.start;
  }

  std::basic_string<Unit> LineEnding() const {
    for (const Line& line : m_lines) {
      if (line.end > line.contentEnd) {
        return Text().substr(line.contentEnd, line.end - line.contentEnd);
      }
    }
    return Ascii("\r\n");
  }

  Units<Unit> m_units;
  std::vector<Line> m_lines;
};

bool HasAny(std::u16string_view text, std::u16string_view characters) {
  return text.find_first_of(characters) != std::u16string_view::npos;
}

// Whether the names and the value would read back as written once stored in a line.
bool CanStore(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
  const std::u16string_view breaks(u"\r\n\0", 3);  // and NUL, which ends a value read
  return !HasAny(section, breaks) && !HasAny(key, breaks) && !HasAny(value, breaks) &&
         !HasAny(key, u"=") && !Trim(key).starts_with(u'[');
}

}  // namespace

std::optional<std::u16string> FindProfileValue(std::string_view bytes, std::u16string_view section,
                                               std::u16string_view key) {
  if (IsUtf16(bytes)) return Profile<char16_t>(LoadUtf16(bytes)).Find(section, key);
  return Profile<char>(Load8Bit(bytes)).Find(section, key);
}

std::optional<std::string> SetProfileValue(std::string_view bytes, std::u16string_view section,
                                           std::u16string_view key, std::u16string_view value) {
  if (!CanStore(section, key, value)) return std::nullopt;
  if (IsUtf16(bytes)) return Profile<char16_t>(LoadUtf16(bytes)).Set(section, key, value);
  return Profile<char>(Load8Bit(bytes)).Set(section, key, value);
}

}  // namespace tarvo
