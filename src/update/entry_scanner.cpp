#include "update/entry_scanner.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <queue>
#include <stdexcept>
#include <vector>

#include "common/find_text.h"

namespace tarvo {

namespace {

constexpr std::size_t kNone = SIZE_MAX;
constexpr std::u16string_view kEntryOpen = u"<Version>";
constexpr std::u16string_view kEntryClose = u"</Version>";

// The body as text from which tags are removed. A position is an index into the original body;
// positions keep their order, and end() stands after the last one. Removed positions form runs;
// the first and the last position of each maximal run name each other in m_edge, so that
// stepping over a run of any length takes one step. Nothing else of m_edge is ever read, which
// is why it starts uninitialised: most of it is never touched.
class ShrinkingText {
 public:
  // What one removal did: the removed tag's first and last position, and the positions left
  // on either side of the gap it leaves (kNone before the first, end() after the last).
  struct Gap {
    std::size_t first;
    std::size_t last;
    std::size_t before;
    std::size_t after;
  };

  // Throws std::length_error for a body of 2^32 characters or more (8 GiB of text).
  explicit ShrinkingText(std::u16string_view text)
      : m_text(text),
        m_removed(CheckedSize(text.size()), false),
        m_edge(std::make_unique_for_overwrite<Edge[]>(text.size())) {}

  std::size_t end() const { return m_text.size(); }
  char16_t at(std::size_t i) const { return m_text[i]; }
  bool removed(std::size_t i) const { return m_removed[i]; }

  // The position left after `i`, or end().
  std::size_t Next(std::size_t i) const {
    std::size_t j = i + 1;
    if (j < end() && removed(j)) j = std::size_t{m_edge[j]} + 1;
    return j;
  }

  // The position left before `i` (or before the end, for end()), or kNone.
  std::size_t Prev(std::size_t i) const {
    if (i == 0) return kNone;
    std::size_t j = i - 1;
    if (removed(j)) j = m_edge[j] == 0 ? kNone : std::size_t{m_edge[j]} - 1;
    return j;
  }

  // True when the text left from position `i` (which is left) on begins with `tag`.
  bool Matches(std::size_t i, std::u16string_view tag) const {
    for (char16_t c : tag) {
      if (i == end() || m_text[i] != c) return false;
      i = Next(i);
    }
    return true;
  }

  // The first position left at or after `i` where `tag` begins, or end(). Searches the
  // original text for the tag's first character and passes over the removed ones it meets.
  std::size_t Find(std::size_t i, std::u16string_view tag) const {
    for (;; ++i) {
      i = FindChar(m_text, tag.front(), i);
      if (i == std::u16string_view::npos) return end();
      if (!removed(i) && Matches(i, tag)) return i;
    }
  }

  // Removes `length` characters left from position `i` on (they must exist).
  Gap Remove(std::size_t i, std::size_t length) {
    std::size_t last = i;
    for (std::size_t p = i, k = 0; k < length; ++k, p = Next(p)) {
      last = p;
      m_removed[p] = true;
    }
    // Join the runs that touch the new one, so that its ends name the whole run.
    const std::size_t first = i > 0 && removed(i - 1) ? m_edge[i - 1] : i;
    const std::size_t stop = last + 1 < end() && removed(last + 1) ? m_edge[last + 1] : last;
    m_edge[first] = static_cast<Edge>(stop);
    m_edge[stop] = static_cast<Edge>(first);
    return Gap{i, last, first == 0 ? kNone : first - 1, stop + 1};
  }

 private:
  // Positions in 32 bits halve the memory that the edges spread over.
  using Edge = std::uint32_t;

  static std::size_t CheckedSize(std::size_t size) {
    if (size > UINT32_MAX) throw std::length_error("list body too long");
    return size;
  }

  std::u16string_view m_text;
  std::vector<bool> m_removed;
  std::unique_ptr<Edge[]> m_edge;
};

// Finds the first occurrence of one tag in the shrinking text. A forward scan finds the
// occurrences that stand at or after its position and never goes back. Removals can create
// occurrences only across the gap they leave, so after each removal the few positions before
// the gap are checked, and new occurrences behind the scan are kept aside until they are the
// first.
class TagFinder {
 public:
  TagFinder(std::u16string_view tag, const ShrinkingText& text) : m_tag(tag), m_text(text) {}

  // The position of the first occurrence, or end() when there is none.
  std::size_t First() {
    if (!m_behind.empty()) return m_behind.top();
    if (!m_found) {
      m_scan = m_text.Find(m_scan, m_tag);
      m_found = true;
    }
    return m_scan;
  }

  // To be told of every removal, of this tag or another. Occurrences never overlap (the tags'
  // only "<" is their first character), so a removal takes no occurrence but the removed one.
  void Removed(const ShrinkingText::Gap& gap) {
    if (!m_behind.empty() && m_behind.top() == gap.first) m_behind.pop();
    if (gap.first <= m_scan && m_scan <= gap.last) {
      m_scan = gap.after;
      m_found = false;
    }
    // A new occurrence holds the positions on both sides of the gap: the one after the gap is
    // one of the tag's characters but its first, and the occurrence starts at most length - 1
    // positions before the gap. Those at or after the scan will be found by scanning.
    if (gap.before == kNone || gap.after == m_text.end()) return;
    if (m_tag.find(m_text.at(gap.after), 1) == std::u16string_view::npos) return;
    std::size_t start = gap.before;
    for (std::size_t k = 1; k < m_tag.size() && start != kNone; ++k) {
      if (start < m_scan && m_text.Matches(start, m_tag)) m_behind.push(start);
      start = m_text.Prev(start);
    }
  }

 private:
  std::u16string_view m_tag;
  const ShrinkingText& m_text;
  std::size_t m_scan = 0;
  bool m_found = false;  // whether m_scan is an occurrence (or the end)
  std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>> m_behind;
};

}  // namespace

struct EntryScanner::Impl {
  explicit Impl(std::u16string_view body)
      : text(body), opening(kEntryOpen, text), closing(kEntryClose, text) {}

  void Remove(std::size_t position, std::size_t length) {
    const ShrinkingText::Gap gap = text.Remove(position, length);
    opening.Removed(gap);
    closing.Removed(gap);
  }

  // The position `offset` characters into the current entry, or its end.
  std::size_t Skip(std::size_t offset) const {
    std::size_t p = begin;
    for (std::size_t k = 0; k < offset && p != end; ++k) p = text.Next(p);
    return p;
  }

  ShrinkingText text;
  TagFinder opening;
  TagFinder closing;
  bool current = false;
  std::size_t openTag = 0;  // the current entry's tags
  std::size_t closeTag = 0;
  std::size_t begin = 0;  // the current entry's first position, or `end` when it is empty
  std::size_t end = 0;
};

EntryScanner::EntryScanner(std::u16string_view body) : m_impl(std::make_unique<Impl>(body)) {}

EntryScanner::~EntryScanner() = default;

bool EntryScanner::NextEntry() {
  Impl& s = *m_impl;
  if (s.current) {
    s.current = false;
    s.Remove(s.openTag, kEntryOpen.size());
    s.Remove(s.closeTag, kEntryClose.size());
  }
  s.openTag = s.opening.First();
  s.closeTag = s.closing.First();
  if (s.openTag == s.text.end() || s.closeTag == s.text.end()) return false;
  s.current = true;
  s.end = s.closeTag;
  s.begin = s.closeTag;
  if (s.closeTag > s.openTag) {
    std::size_t p = s.openTag;
    for (std::size_t k = 0; k < kEntryOpen.size(); ++k) p = s.text.Next(p);
    s.begin = p;
  }
  return true;
}

std::u16string EntryScanner::EntryPrefix(std::size_t count) const {
  const Impl& s = *m_impl;
  std::u16string prefix;
  for (std::size_t p = s.begin; p != s.end && prefix.size() < count; p = s.text.Next(p)) {
    prefix += s.text.at(p);
  }
  return prefix;
}

std::optional<std::u16string> EntryScanner::EntryText(std::size_t offset,
                                                      std::size_t maxLength) const {
  const Impl& s = *m_impl;
  std::u16string text;
  for (std::size_t p = s.Skip(offset); p != s.end; p = s.text.Next(p)) {
    if (text.size() == maxLength) return std::nullopt;
    text += s.text.at(p);
  }
  return text;
}

}  // namespace tarvo
