# The update signing key and the release configuration's guards.
#
# OVRA_OTA_PUBLIC_KEY names a PEM file with the vendor's ECDSA P-256 public key; the
# build embeds its 64-byte point (X then Y) and then accepts only manifests signed with
# the matching private key. Without it the program takes manifests unsigned.

set(OVRA_OTA_PUBLIC_KEY "" CACHE FILEPATH
    "PEM public key (ECDSA P-256) that update manifests must be signed with")
option(OVRA_RELEASE "Release configuration: needs the vendor's key and real endpoints" OFF)

# Base64 text to lower-case hexadecimal; stops with an error on a foreign character.
function(ovra_base64_to_hex text out_var)
  set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  set(hexdigits "0123456789abcdef")
  string(REGEX REPLACE "[ \t\r\n=]" "" text "${text}")
  string(LENGTH "${text}" n)
  set(hex "")
  set(acc 0)
  set(bits 0)
  if(n GREATER 0)
    math(EXPR last "${n} - 1")
    foreach(i RANGE ${last})
      string(SUBSTRING "${text}" ${i} 1 c)
      string(FIND "${alphabet}" "${c}" v)
      if(v LESS 0)
        message(FATAL_ERROR "OVRA_OTA_PUBLIC_KEY: '${c}' is not base64")
      endif()
      math(EXPR acc "(${acc} << 6) | ${v}")
      math(EXPR bits "${bits} + 6")
      if(bits GREATER_EQUAL 8)
        math(EXPR bits "${bits} - 8")
        math(EXPR hi "(${acc} >> (${bits} + 4)) & 15")
        math(EXPR lo "(${acc} >> ${bits}) & 15")
        string(SUBSTRING "${hexdigits}" ${hi} 1 h)
        string(SUBSTRING "${hexdigits}" ${lo} 1 l)
        string(APPEND hex "${h}${l}")
        math(EXPR acc "${acc} & ((1 << ${bits}) - 1)")
      endif()
    endforeach()
  endif()
  set(${out_var} "${hex}" PARENT_SCOPE)
endfunction()

# The public point of a PEM "PUBLIC KEY" (SubjectPublicKeyInfo) for P-256, as 128 hex
# digits; anything else is a configuration error.
function(ovra_read_p256_public_key file out_var)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "OVRA_OTA_PUBLIC_KEY: no such file: ${file}")
  endif()
  file(READ "${file}" pem)
  if(NOT pem MATCHES "-----BEGIN PUBLIC KEY-----(.*)-----END PUBLIC KEY-----")
    message(FATAL_ERROR "OVRA_OTA_PUBLIC_KEY: ${file} is not a PEM public key "
                        "(expected -----BEGIN PUBLIC KEY-----)")
  endif()
  ovra_base64_to_hex("${CMAKE_MATCH_1}" der)
  # SEQUENCE { SEQUENCE { id-ecPublicKey, prime256v1 }, BIT STRING { 04 X Y } }
  set(prefix "3059301306072a8648ce3d020106082a8648ce3d03010703420004")
  string(LENGTH "${der}" len)
  string(FIND "${der}" "${prefix}" at)
  if(NOT len EQUAL 182 OR NOT at EQUAL 0)
    message(FATAL_ERROR "OVRA_OTA_PUBLIC_KEY: ${file} is not an uncompressed ECDSA P-256 "
                        "public key")
  endif()
  string(SUBSTRING "${der}" 54 128 point)
  set(${out_var} "${point}" PARENT_SCOPE)
endfunction()

set(OVRA_OTA_KEY_HEX "")
if(OVRA_OTA_PUBLIC_KEY)
  ovra_read_p256_public_key("${OVRA_OTA_PUBLIC_KEY}" OVRA_OTA_KEY_HEX)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${OVRA_OTA_PUBLIC_KEY}")
  message(STATUS "Update manifests must be signed with the key in ${OVRA_OTA_PUBLIC_KEY}")
else()
  message(STATUS "No update signing key: manifests are taken unsigned")
endif()

# True when the URL's host is this machine.
function(ovra_is_loopback url out_var)
  set(loopback OFF)
  if(url MATCHES "^[A-Za-z][A-Za-z0-9+.-]*://([^/?#]*@)?(\\[[^/?#]*\\]|[^:/?#]*)")
    string(TOLOWER "${CMAKE_MATCH_2}" host)
    if(host MATCHES "^127\\.[0-9.]+$" OR host MATCHES "^(localhost|.*\\.localhost)\\.?$" OR
       host MATCHES "^\\[(::1|0*:[0:]*:0*1|::ffff:127\\.[0-9.]+)\\]$" OR host MATCHES "^0\\.0\\.0\\.0$"
       OR host STREQUAL "")
      set(loopback ON)
    endif()
  endif()
  set(${out_var} ${loopback} PARENT_SCOPE)
endfunction()

if(OVRA_RELEASE)
  if(NOT OVRA_OTA_PUBLIC_KEY)
    message(FATAL_ERROR "A release build needs the vendor's update signing key: "
                        "-DOVRA_OTA_PUBLIC_KEY=<path to the public key file>")
  endif()
  # The test keys' private halves are in the repository: a release must not trust them.
  file(GLOB _test_keys "${CMAKE_SOURCE_DIR}/tests/keys/*.public.pem")
  foreach(_test_key ${_test_keys})
    ovra_read_p256_public_key("${_test_key}" _test_hex)
    if(_test_hex STREQUAL OVRA_OTA_KEY_HEX)
      message(FATAL_ERROR "A release build cannot trust a test key (${_test_key}); "
                          "give the vendor's public key from outside the repository")
    endif()
  endforeach()
  foreach(_name apiBase otaManifestUrl)
    string(JSON _url GET "${_endpoints}" ${_name})
    ovra_is_loopback("${_url}" _loopback)
    if(_loopback)
      message(FATAL_ERROR "A release build cannot use the loopback address ${_url} "
                          "(${_name} in ${OVRA_ENDPOINTS_FILE}); give the real service addresses")
    endif()
  endforeach()
endif()
