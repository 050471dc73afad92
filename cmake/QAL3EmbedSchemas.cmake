# Makes the C++ source that holds the project's XML Schemas, so that the
# checking library needs no file at run time:
#   cmake -DOUT=FILE.cpp -DSCHEMAS="a.xsd;b.xsd" -P QAL3EmbedSchemas.cmake
# The file is rewritten only when its text changes.
set(rows "")
foreach(xsd IN LISTS SCHEMAS)
  get_filename_component(name "${xsd}" NAME)
  file(READ "${xsd}" text)
  if(text MATCHES "\\)qal3xsd\"")
    message(FATAL_ERROR "${xsd} holds the raw string's delimiter")
  endif()
  string(APPEND rows "    {\"${name}\", R\"qal3xsd(${text})qal3xsd\"},\n")
endforeach()
set(source "// Made by cmake/QAL3EmbedSchemas.cmake from the schema folder; do not edit.
#include \"check_document.h\"

namespace check {
namespace {

struct Schema {
  std::string_view name;
  std::string_view text;
};

constexpr Schema kSchemas[] = {
${rows}};

}  // namespace

std::string_view schema_text(std::string_view name) {
  for (const Schema& s : kSchemas)
    if (s.name == name) return s.text;
  return {};
}

}  // namespace check
")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
  if(old STREQUAL source)
    return()
  endif()
endif()
file(WRITE "${OUT}" "${source}")
