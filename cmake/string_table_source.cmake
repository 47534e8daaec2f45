# Turns the STRINGTABLE of a resource script into C++ that registers the
# table for the program's own module with the stand-in's LoadStringA, so the
# Linux build reads the same texts that windres compiles for Windows.
#
#   cmake -DRC_FILE=<script.rc> -DOUTPUT=<source.cpp> -P string_table_source.cmake
#
# Only what windres reads the same way is accepted; everything else stops the
# build with the line it is on:
#   - // comments (windres runs the C preprocessor; no directives, no /* */)
#   - STRINGTABLE BEGIN ... END (or { ... }), without options
#   - entries: a decimal id 0..65535, an optional comma, one or more adjacent
#     string literals (windres joins them)
#   - in literals: printable ASCII, "" for a quote, and the escapes \\ \n \t
#     (windres reads \a as a backspace and only warns about \", so those and
#     every other escape are refused)

cmake_minimum_required(VERSION 3.25)

if(NOT RC_FILE OR NOT OUTPUT)
  message(FATAL_ERROR "usage: cmake -DRC_FILE=<script.rc> -DOUTPUT=<source.cpp> -P ${CMAKE_CURRENT_LIST_FILE}")
endif()

file(READ "${RC_FILE}" rest)
set(line 1)

function(reject what)
  message(FATAL_ERROR "${RC_FILE}:${line}: ${what}")
endfunction()

# Sets `kind` (end, word, number, string, punct) and `value`, and consumes the
# token from `rest`.
macro(next_token)
  while(TRUE)
    string(REGEX MATCH "^([ \t\r\n]+|//[^\n]*)" skipped "${rest}")
    if(skipped STREQUAL "")
      break()
    endif()
    string(REGEX MATCHALL "\n" newlines "${skipped}")
    list(LENGTH newlines newline_count)
    math(EXPR line "${line} + ${newline_count}")
    string(LENGTH "${skipped}" skipped_length)
    string(SUBSTRING "${rest}" ${skipped_length} -1 rest)
  endwhile()
  set(value "")
  if(rest STREQUAL "")
    set(kind end)
  elseif(rest MATCHES "^[A-Za-z_][A-Za-z0-9_]*")
    set(kind word)
    set(value "${CMAKE_MATCH_0}")
  elseif(rest MATCHES "^[0-9]+")
    set(kind number)
    set(value "${CMAKE_MATCH_0}")
  elseif(rest MATCHES "^\"([^\"\n]|\"\")*\"")
    set(kind string)
    set(value "${CMAKE_MATCH_0}")
  elseif(rest MATCHES "^[{},]")
    set(kind punct)
    set(value "${CMAKE_MATCH_0}")
  elseif(rest MATCHES "^\"")
    reject("string not closed on its line")
  else()
    string(SUBSTRING "${rest}" 0 1 first)
    reject("'${first}' is not read here: only // comments and STRINGTABLE blocks are")
  endif()
  if(NOT kind STREQUAL "end")
    string(LENGTH "${value}" value_length)
    string(SUBSTRING "${rest}" ${value_length} -1 rest)
  endif()
  if(kind STREQUAL "number" AND rest MATCHES "^[A-Za-z0-9_]")
    reject("ids are plain decimal numbers")
  endif()
endmacro()

# The C++ literal for one .rc literal `value`, in `literal`.
macro(translate_literal)
  string(LENGTH "${value}" value_length)
  math(EXPR body_length "${value_length} - 2")
  string(SUBSTRING "${value}" 1 ${body_length} body)
  if(NOT body MATCHES "^[ -~]*$")
    reject("only printable ASCII is read in strings (the code page would decide the rest)")
  endif()
  string(REGEX REPLACE "\\\\[\\\\nt]" "" unescaped "${body}")
  if(unescaped MATCHES "\\\\")
    reject("only the escapes \\\\ \\n \\t are read in strings (use \"\" for a quote)")
  endif()
  string(REPLACE "?" "\\?" literal "${body}")
  string(REPLACE "\"\"" "\\\"" literal "${literal}")
  set(literal "\"${literal}\"")
endmacro()

set(texts "")
set(entries "")
set(ids "")
set(count 0)

next_token()
if(kind STREQUAL "end")
  reject("no STRINGTABLE")
endif()
while(NOT kind STREQUAL "end")
  if(NOT (kind STREQUAL "word" AND value STREQUAL "STRINGTABLE"))
    reject("expected STRINGTABLE, found '${value}'")
  endif()
  next_token()
  if(value STREQUAL "BEGIN" OR value STREQUAL "{")
    set(closing END)
    if(value STREQUAL "{")
      set(closing "}")
    endif()
  else()
    reject("expected BEGIN after STRINGTABLE (no options are read), found '${value}'")
  endif()
  next_token()
  while(NOT value STREQUAL closing)
    if(NOT kind STREQUAL "number")
      reject("expected a decimal id or ${closing}, found '${value}'")
    endif()
    if(value GREATER 65535)
      reject("id ${value} is above 65535")
    endif()
    math(EXPR id "${value}")
    if(id IN_LIST ids)
      reject("id ${id} appears twice")
    endif()
    list(APPEND ids ${id})
    next_token()
    if(value STREQUAL ",")
      next_token()
    endif()
    if(NOT kind STREQUAL "string")
      reject("expected a string for id ${id}, found '${value}'")
    endif()
    set(pieces "")
    while(kind STREQUAL "string")
      translate_literal()
      string(APPEND pieces "\n    ${literal}")
      next_token()
    endwhile()
    string(APPEND texts "const char kText${count}[] =${pieces};\n")
    string(APPEND entries "    {${id}, kText${count}, sizeof(kText${count}) - 1},\n")
    math(EXPR count "${count} + 1")
  endwhile()
  next_token()
endwhile()

if(count EQUAL 0)
  reject("the STRINGTABLE holds no strings")
endif()

get_filename_component(rc_name "${RC_FILE}" NAME)
file(WRITE "${OUTPUT}.tmp" "// Generated from ${rc_name} by string_table_source.cmake.

#include \"platform/standin/user32/string_resources.h\"

namespace {

${texts}
const StringResource kResources[] = {
${entries}};

StringTable table = {nullptr, kResources, sizeof(kResources) / sizeof(kResources[0]), nullptr};

struct Registration {
    Registration() {
        table.module = GetModuleHandleA(nullptr);
        RegisterStringTable(&table);
    }
} registration;

} // namespace
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
