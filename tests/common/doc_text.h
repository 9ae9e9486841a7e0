// Reads a documentation file for tests that check it against a table of
// the code: every run of white space (line breaks and indentation
// included) becomes one space, so a line of the table is found however
// the text wraps it.
#pragma once

#include <cctype>
#include <fstream>
#include <string>
#include <vector>

namespace testutil {

// The file's text with white space collapsed; "" when it cannot be read.
inline std::string ReadCollapsed(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string out;
  char c;
  bool space = false;
  while (in.get(c)) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      space = true;
      continue;
    }
    if (space && !out.empty()) out += ' ';
    space = false;
    out += c;
  }
  return out;
}

// The entries of `lines` that `text` lacks or holds out of order: each is
// looked for after the last one found.
inline std::vector<std::string> MissingInOrder(const std::string& text,
                                               const std::vector<std::string>& lines) {
  std::vector<std::string> missing;
  size_t at = 0;
  for (const std::string& line : lines) {
    const size_t found = text.find(line, at);
    if (found == std::string::npos)
      missing.push_back(line);
    else
      at = found;
  }
  return missing;
}

}  // namespace testutil
