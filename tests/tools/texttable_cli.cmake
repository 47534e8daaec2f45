# Runs the texttable tool: a listing survives build and dump unchanged, and
# malformed input gives a one-line error and a non-zero exit.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# Written as the tool writes listings, so that dump must give it back byte
# for byte. \\ is one backslash in CMake.
set(listing "Hallo Welt\n\nzwei\\nZeilen\\r\\0Ende\nBack\\\\slash \\x01\\x7F\n")
file(WRITE ${WORK}/good.txt "${listing}")

function(run expectSuccess)
  execute_process(COMMAND ${TOOL} ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
  if(expectSuccess AND NOT code EQUAL 0)
    message(FATAL_ERROR "texttable ${ARGN}: exit ${code}: ${err}")
  endif()
  if(NOT expectSuccess)
    if(code EQUAL 0)
      message(FATAL_ERROR "texttable ${ARGN}: succeeded on bad input")
    endif()
    string(REGEX MATCHALL "\n" breaks "${err}")
    list(LENGTH breaks lines)
    if(NOT lines EQUAL 1 OR NOT err MATCHES "^texttable: ")
      message(FATAL_ERROR "texttable ${ARGN}: not a one-line error: '${err}'")
    endif()
  endif()
endfunction()

run(TRUE build ${WORK}/good.txt ${WORK}/good.tbl)
run(TRUE dump ${WORK}/good.tbl)
if(NOT out STREQUAL listing)
  message(FATAL_ERROR "round trip changed the listing:\n'${listing}'\n'${out}'")
endif()

file(WRITE ${WORK}/bad_escape.txt "gut\nschlecht \\q\n")
run(FALSE build ${WORK}/bad_escape.txt ${WORK}/bad.tbl)
if(NOT err MATCHES "line 2: bad escape")
  message(FATAL_ERROR "bad escape not named: ${err}")
endif()
if(EXISTS ${WORK}/bad.tbl)
  message(FATAL_ERROR "a table was written from a bad listing")
endif()

run(FALSE build ${WORK}/missing.txt ${WORK}/bad.tbl)
# A directory is no listing, not even an empty one.
file(MAKE_DIRECTORY ${WORK}/listing_dir)
run(FALSE build ${WORK}/listing_dir ${WORK}/bad.tbl)
if(EXISTS ${WORK}/bad.tbl)
  message(FATAL_ERROR "a table was written from a directory")
endif()
run(FALSE dump ${WORK}/missing.tbl)
run(FALSE dump ${WORK}/listing_dir)
# From a pipe, which cannot seek, the table is read whole.
execute_process(COMMAND sh -c "cat '${WORK}/good.tbl' | '${TOOL}' dump /dev/stdin"
                RESULT_VARIABLE code OUTPUT_VARIABLE out)
if(NOT code EQUAL 0 OR NOT out STREQUAL listing)
  message(FATAL_ERROR "dump from a pipe: exit ${code}, '${out}'")
endif()
file(WRITE ${WORK}/short.tbl "zu kurz")
run(FALSE dump ${WORK}/short.tbl)
# Entry table offset and count "AAAA" and "BBBB": far past the end.
file(WRITE ${WORK}/past_end.tbl "0000AAAA0000BBBB")
run(FALSE dump ${WORK}/past_end.tbl)

# Only a regular file or a new name is written: a FIFO, a device node (where
# one can be made) and a link stay as they are, and so does what the link
# leads to.
execute_process(COMMAND mkfifo ${WORK}/fifo)
execute_process(COMMAND mknod ${WORK}/null c 1 3 RESULT_VARIABLE no_device ERROR_QUIET)
file(WRITE ${WORK}/victim.txt "victim")
file(CREATE_LINK ${WORK}/victim.txt ${WORK}/link.tbl SYMBOLIC)
foreach(special fifo null link.tbl)
  if(special STREQUAL "null" AND NOT no_device EQUAL 0)
    continue()
  endif()
  run(FALSE build ${WORK}/good.txt ${WORK}/${special})
  if(NOT err MATCHES "not a regular file" OR NOT IS_SYMLINK ${WORK}/link.tbl)
    message(FATAL_ERROR "${special} was not refused as it should be: ${err}")
  endif()
endforeach()
execute_process(COMMAND test -p ${WORK}/fifo RESULT_VARIABLE not_fifo)
if(no_device EQUAL 0)
  execute_process(COMMAND test -c ${WORK}/null RESULT_VARIABLE not_fifo)
endif()
file(READ ${WORK}/victim.txt victim)
if(NOT not_fifo EQUAL 0 OR NOT victim STREQUAL "victim")
  message(FATAL_ERROR "a refused target was changed")
endif()

execute_process(COMMAND ${TOOL} frobnicate RESULT_VARIABLE code OUTPUT_QUIET ERROR_QUIET)
if(NOT code EQUAL 2)
  message(FATAL_ERROR "a wrong command line gave exit ${code}, not 2")
endif()

# A new table gets the mode of any new file: the umask counts.
execute_process(COMMAND sh -c "umask 027 && '${TOOL}' build '${WORK}/good.txt' '${WORK}/mode.tbl' \
&& stat -c %a '${WORK}/mode.tbl'" RESULT_VARIABLE code OUTPUT_VARIABLE mode
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT code EQUAL 0 OR NOT mode STREQUAL "640")
  message(FATAL_ERROR "new table under umask 027: exit ${code}, mode '${mode}'")
endif()
