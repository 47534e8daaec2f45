# update_trusted_keys(<library> <file of PEM public keys, or empty>): a
# library with the source of the keys that a build of Update.exe trusts
# (trusted_keys.h), made at build time by the openssl command line
# (cmake/trusted_keys_source.cmake), again whenever the file changes.
find_program(UPDATE_OPENSSL openssl REQUIRED)

function(update_trusted_keys library keys)
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${library}.cpp)
  set(script ${CMAKE_SOURCE_DIR}/cmake/trusted_keys_source.cmake)
  add_custom_command(
    OUTPUT ${source}
    COMMAND ${CMAKE_COMMAND} -DKEYS=${keys} -DOPENSSL=${UPDATE_OPENSSL} -DOUT=${source} -P ${script}
    DEPENDS ${script} ${keys}
    COMMENT "Trusted keys of ${library}: ${keys}"
    VERBATIM)
  add_library(${library} STATIC ${source})
  target_link_libraries(${library} PUBLIC update_package)
endfunction()
