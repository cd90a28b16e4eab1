// Filter pieces and the plain, case-insensitive substring test.
#include "remote/name_filter.h"

#include <algorithm>
#include <string>
#include <vector>

namespace pullwire {
namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool ContainsIgnoringCase(std::string_view haystack, std::string_view needle) {
  const auto equal = [](char a, char b) { return AsciiLower(a) == AsciiLower(b); };
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(), equal) !=
         haystack.end();
}

}  // namespace

void ParseFilter(ModuleState& state) {
  std::vector<std::string>& list = state.FilterList;
  list.assign(1, std::string());
  const std::string& text = state.Settings.Filter;
  if (text.find(';') == std::string::npos) {
    list = {text, std::string()};
    return;
  }
  list.clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t separator = text.find(';', start);
    if (separator == std::string::npos) {
      list.push_back(text.substr(start));
      return;
    }
    list.push_back(text.substr(start, separator - start));
    start = separator + 1;
  }
}

bool NameAccepted(const ModuleState& state, std::string_view name) {
  if (state.FilterList.size() <= 1 || state.Settings.Filter == "*") return true;
  return std::any_of(state.FilterList.begin(), state.FilterList.end(), [&](const std::string& piece) {
    return !piece.empty() && ContainsIgnoringCase(name, piece);
  });
}

}  // namespace pullwire
