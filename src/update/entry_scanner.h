#pragma once
// The version entries of a list body, one after another, as the tag-removal procedure yields
// them: find the first "<Version>" and the first "</Version>" of the body, take the text
// between them as the entry (empty when the closing tag comes first), remove those two tags and
// nothing else, and repeat while both tags exist. Removing tags can join the text on either
// side into new tags, and entry texts stay behind in the body, so the procedure has to be
// followed exactly for malformed pages to give the same entries; done by searching the body
// again from its start after each entry, it costs time quadratic in the number of entries.
//
// This scanner gives the same entries in time linear in the body's length: it never searches
// a part of the body twice, except the few characters around each removal, where new tags can
// form. Reading an entry costs what is read of it.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo {

class EntryScanner {
 public:
  // `body` must outlive the scanner.
  explicit EntryScanner(std::u16string_view body);
  EntryScanner(const EntryScanner&) = delete;
  EntryScanner& operator=(const EntryScanner&) = delete;
  ~EntryScanner();

  // Removes the tags of the current entry, if any, and moves to the next one. Returns false
  // when the body holds no opening or no closing tag any more.
  bool NextEntry();

  // The first `count` characters of the current entry, or all of it when it is shorter.
  std::u16string EntryPrefix(std::size_t count) const;

  // The current entry from its character `offset` on (empty when the entry is not longer), or
  // nothing when that is longer than `maxLength`. Costs at most `maxLength` steps, however
  // long the entry: nested entries share their last characters, and copying each out whole
  // could cost as much as the rest of the body.
  std::optional<std::u16string> EntryText(std::size_t offset, std::size_t maxLength) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace tarvo
