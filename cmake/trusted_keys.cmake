# The public keys an agent is built to trust: MB_TRUSTED_KEYS, a list of PEM
# files, each holding one public key ("-----BEGIN PUBLIC KEY-----", as
# `openssl ec -in key.pem -pubout` writes it) of ECDSA P-256. Their DER, in
# base64 and separated by spaces, is compiled into the agent
# (agent/build_trusted_keys.cpp). A private key is refused, so it can never
# end up inside a program that is handed out.
# Also run as a script by a test: cmake -DMB_KEY_FILES=... -P trusted_keys.cmake
set(MB_TRUSTED_KEYS "" CACHE STRING "PEM files of the public keys the agent trusts (;-separated)")

# Every P-256 SubjectPublicKeyInfo begins with these bytes (the algorithm
# and the curve), so its base64 begins with this text.
set(MB_P256_SPKI_BASE64_PREFIX "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE")

function(mb_trusted_keys_definition files out)
  set(keys "")
  foreach(file ${files})
    if(NOT EXISTS "${file}")
      message(FATAL_ERROR "MB_TRUSTED_KEYS: ${file} does not exist")
    endif()
    file(READ "${file}" pem)
    if(pem MATCHES "PRIVATE KEY")
      message(FATAL_ERROR "MB_TRUSTED_KEYS: ${file} holds a private key; give the public key "
                          "(openssl ec -in KEY.pem -pubout -out public.pem)")
    endif()
    if(NOT pem MATCHES "-----BEGIN PUBLIC KEY-----([A-Za-z0-9+/=\r\n]+)-----END PUBLIC KEY-----")
      message(FATAL_ERROR "MB_TRUSTED_KEYS: ${file} holds no PEM public key")
    endif()
    string(REGEX REPLACE "[\r\n]" "" der "${CMAKE_MATCH_1}")
    string(FIND "${der}" "${MB_P256_SPKI_BASE64_PREFIX}" at)
    string(LENGTH "${der}" length)
    if(NOT at EQUAL 0 OR NOT length EQUAL 124)
      message(FATAL_ERROR "MB_TRUSTED_KEYS: ${file} is not an ECDSA P-256 public key")
    endif()
    list(APPEND keys "${der}")
  endforeach()
  list(JOIN keys " " joined)
  set(${out} "${joined}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED MB_KEY_FILES)
  mb_trusted_keys_definition("${MB_KEY_FILES}" keys)
  message("${keys}")
endif()
