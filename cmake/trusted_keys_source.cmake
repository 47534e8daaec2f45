# Writes the source of the keys that a build of Update.exe trusts:
#   cmake -DKEYS=<file of PEM public keys, or empty> -DOPENSSL=<openssl>
#         -DOUT=<source> -P trusted_keys_source.cmake
# Each "-----BEGIN PUBLIC KEY-----" block of KEYS is turned into its DER
# form (SubjectPublicKeyInfo) by the openssl command line, on the build
# machine, for the Linux and the Windows build alike; a key that is not
# ECDSA P-256, or a file without a key, fails the build. Without KEYS the
# source holds no key. The source is written beside and then put in place.
set(p256_prefix "3059301306072a8648ce3d020106082a8648ce3d030107034200")
set(arrays "")
set(entries "")
set(count 0)
if(KEYS)
  file(READ "${KEYS}" text)
  string(REGEX MATCHALL "-----BEGIN PUBLIC KEY-----[^-]+-----END PUBLIC KEY-----" blocks "${text}")
  foreach(block IN LISTS blocks)
    set(pem "${OUT}.key${count}.pem")
    file(WRITE "${pem}" "${block}\n")
    execute_process(COMMAND "${OPENSSL}" pkey -pubin -in "${pem}" -outform DER -out "${pem}.der"
                    RESULT_VARIABLE failed ERROR_VARIABLE error)
    if(failed)
      message(FATAL_ERROR "UPDATE_TRUSTED_KEYS (${KEYS}): key ${count} is no public key: ${error}")
    endif()
    file(READ "${pem}.der" der HEX)
    file(REMOVE "${pem}" "${pem}.der")
    string(LENGTH "${der}" length)
    string(FIND "${der}" "${p256_prefix}" at)
    if(NOT length EQUAL 182 OR NOT at EQUAL 0)
      message(FATAL_ERROR "UPDATE_TRUSTED_KEYS (${KEYS}): key ${count} is not an ECDSA P-256 key")
    endif()
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${der}")
    string(APPEND arrays "const BYTE kKey${count}[] = {${bytes}};\n")
    string(APPEND entries "    {kKey${count}, sizeof kKey${count}},\n")
    math(EXPR count "${count} + 1")
  endforeach()
  if(count EQUAL 0)
    message(FATAL_ERROR "UPDATE_TRUSTED_KEYS (${KEYS}) holds no \"BEGIN PUBLIC KEY\" block")
  endif()
endif()

set(source "// Written by cmake/trusted_keys_source.cmake from ${KEYS}; do not edit.\n")
string(APPEND source "#include \"trusted_keys.h\"\n\n")
if(count GREATER 0)
  string(APPEND source "namespace {\n\n// clang-format off\n${arrays}const PublicKeyDer kKeys[] = {\n${entries}};\n// clang-format on\n\n} // namespace\n\n")
  string(APPEND source "const PublicKeyDer* TrustedKeys(std::uint32_t& count) {\n    count = ${count};\n    return kKeys;\n}\n")
else()
  string(APPEND source "const PublicKeyDer* TrustedKeys(std::uint32_t& count) {\n    count = 0;\n    return nullptr;\n}\n")
endif()
file(WRITE "${OUT}.new" "${source}")
file(RENAME "${OUT}.new" "${OUT}")
