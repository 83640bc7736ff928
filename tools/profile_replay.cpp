// Replays a sequence of profile reads and writes against files in a folder and prints what each
// read returned, so that two builds' profile functions can be compared on the same input.
//
//   profile_replay OPERATIONS FOLDER
//
// OPERATIONS is UTF-8 text, one operation a line, fields separated by tabs:
//   get <file> <section> <key> <default> <size>
//   put <file> <section> <key> <value>
// <file> is a name inside FOLDER. In text fields "\\", "\t", "\n", "\r" and "\uXXXX" stand for
// the characters they name. Each operation prints one line: "get", the count returned, whether
// the buffer is NUL-terminated at that count, and the text (escaped the same way); or "put" and
// the result.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/decimal.h"
#include "common/utf.h"
#include "platform/profile.h"

namespace {

std::u16string Unescape(const std::string& field) {
  std::u16string text;
  const std::u16string wide = tarvo::Utf8ToUtf16(field);
  for (std::size_t i = 0; i < wide.size(); ++i) {
    if (wide[i] != u'\\' || i + 1 == wide.size()) {
      text += wide[i];
      continue;
    }
    const char16_t next = wide[++i];
    if (next == u't') {
      text += u'\t';
    } else if (next == u'n') {
      text += u'\n';
    } else if (next == u'r') {
      text += u'\r';
    } else if (next == u'u' && i + 4 < wide.size()) {
      text +=
          static_cast<char16_t>(std::stoul(tarvo::Utf16ToUtf8(wide.substr(i + 1, 4)), nullptr, 16));
      i += 4;
    } else {
      text += next;
    }
  }
  return text;
}

std::string Escape(std::u16string_view text) {
  std::string out;
  for (const char16_t c : text) {
    if (c == u'\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04X", static_cast<unsigned>(c));
      out += code;
    }
  }
  return out;
}

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  std::string field;
  while (std::getline(in, field, '\t')) fields.push_back(field);
  if (!line.empty() && line.back() == '\t') fields.emplace_back();
  return fields;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: profile_replay OPERATIONS FOLDER\n");
    return 2;
  }
  std::ifstream operations(argv[1], std::ios::binary);
  if (!operations) {
    std::fprintf(stderr, "profile_replay: cannot read %s\n", argv[1]);
    return 2;
  }
  std::u16string folder = tarvo::Utf8ToUtf16(argv[2]);
  if (folder.empty() || folder.back() != u'\\') folder += u'\\';

  std::string line;
  int number = 0;
  while (std::getline(operations, line)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> f = SplitFields(line);
    const std::u16string path = folder + Unescape(f.size() > 1 ? f[1] : "");
    if (f[0] == "get" && f.size() == 6) {
      const auto size = static_cast<tarvo::DWORD>(tarvo::ParseDecimal(tarvo::Utf8ToUtf16(f[5])));
      std::vector<char16_t> buffer(size + 1, u'#');
      const std::u16string section = Unescape(f[2]), key = Unescape(f[3]), def = Unescape(f[4]);
      const tarvo::DWORD count = tarvo::GetPrivateProfileStringW(
          section.c_str(), key.c_str(), def.c_str(), buffer.data(), size, path.c_str());
      const bool terminated = count < buffer.size() && buffer[count] == 0;
      std::printf("%d get %u %s [%s]\n", number, static_cast<unsigned>(count),
                  terminated ? "nul" : "open",
                  Escape(std::u16string_view(buffer.data(), count < size ? count : size)).c_str());
    } else if (f[0] == "put" && f.size() == 5) {
      const std::u16string section = Unescape(f[2]), key = Unescape(f[3]), value = Unescape(f[4]);
      const tarvo::BOOL result = tarvo::WritePrivateProfileStringW(section.c_str(), key.c_str(),
                                                                   value.c_str(), path.c_str());
      std::printf("%d put %d\n", number, result ? 1 : 0);
    } else {
      std::fprintf(stderr, "profile_replay: line %d is not an operation\n", number);
      return 2;
    }
  }
  return 0;
}
