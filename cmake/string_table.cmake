# update_add_string_table(TARGET RC_FILE): gives TARGET the STRINGTABLE of
# RC_FILE. Windows compiles the script into the image with windres; the
# stand-in gets C++ generated from the same script that registers its texts
# for the program's module (see string_table_source.cmake).
if(WIN32)
  enable_language(RC)
endif()

set(UPDATE_STRING_TABLE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/string_table_source.cmake)

function(update_add_string_table target rc_file)
  get_filename_component(rc_path ${rc_file} ABSOLUTE)
  if(WIN32)
    target_sources(${target} PRIVATE ${rc_path})
    return()
  endif()
  get_filename_component(rc_name ${rc_file} NAME_WE)
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/${rc_name}_string_table.cpp)
  add_custom_command(
    OUTPUT ${generated}
    COMMAND ${CMAKE_COMMAND} -DRC_FILE=${rc_path} -DOUTPUT=${generated}
            -P ${UPDATE_STRING_TABLE_SCRIPT}
    DEPENDS ${rc_path} ${UPDATE_STRING_TABLE_SCRIPT}
    COMMENT "Generating the string table of ${rc_file}"
    VERBATIM)
  target_sources(${target} PRIVATE ${generated})
endfunction()
