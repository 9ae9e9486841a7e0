// Reads a documentation file for tests that check it against a table of
// the code: every run of white space (line breaks and indentation
// included) becomes one space, so a line of the table is found however
// the text wraps it.
#pragma once

#include <cctype>
#include <fstream>
#include <string>

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

}  // namespace testutil
