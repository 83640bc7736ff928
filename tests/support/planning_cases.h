#pragma once
// Version list pages made from arbitrary bytes, for holding the planner against the reference
// on pages no server would send.

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo::test {

struct PlanningCase {
  std::u16string page;
  bool hasConfig = true;  // whether the version pair can be read
  std::int32_t first = 0;
  std::int32_t second = 0;
};

// The first byte picks the recorded version pair (or none) and the kind of page; each later
// byte adds a piece. Most pages are a list whose body is built from tags, tags cut in two at any
// point (which removals can join: "<Ver" + "<Version></Version>" + "sion>"), entries whose
// versions qualify, URLs with "/", "\", ":" and dots, and filler. Some pages take the bytes as
// characters as they are.
PlanningCase MakePlanningCase(std::string_view bytes);

}  // namespace tarvo::test
