// Texts embedded into the library at build time: the kernel folders are
// turned into tables of {name, text} rows by opencl/embed_table.cmake (one
// generated header per folder), and looked up by name, at compile time
// where the caller wants the build to fail on a missing name.
#pragma once

#include <cstddef>
#include <string_view>

namespace opencl {

struct EmbeddedText {
  const char* name;  // the file name without its extension
  const char* text;  // the file's text, "\n" line ends
};

// The text named `name` in `table`; nullptr when no row has that name.
template <size_t N>
constexpr const char* FindEmbeddedText(const EmbeddedText (&table)[N], std::string_view name) {
  for (const EmbeddedText& row : table) {
    if (name == row.name) return row.text;
  }
  return nullptr;
}

}  // namespace opencl
