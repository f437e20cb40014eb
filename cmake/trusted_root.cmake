# The root of trust an agent is built to be pinned to: MB_TRUSTED_ROOT, the
# file of root 1 as `mailbeacon-server sign-root` wrote it (root.1.ini).
# Its bytes, in hexadecimal, are compiled into the agent
# (agent/build_trusted_keys.cpp), which checks its signatures at every run.
# A file that is no root, or holds a private key, stops the build.
# Also run as a script by a test: cmake -DMB_ROOT_FILE=... -P trusted_root.cmake
set(MB_TRUSTED_ROOT "" CACHE FILEPATH "The root of trust (root.1.ini) the agent is pinned to")

function(mb_trusted_root_definition file out)
  set(${out} "" PARENT_SCOPE)
  if(file STREQUAL "")
    return()
  endif()
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "MB_TRUSTED_ROOT: ${file} does not exist")
  endif()
  file(READ "${file}" text)
  if(text MATCHES "PRIVATE KEY")
    message(FATAL_ERROR "MB_TRUSTED_ROOT: ${file} holds a private key; give the root that "
                        "mailbeacon-server sign-root wrote")
  endif()
  if(NOT text MATCHES "^\\[ROOT\\][\r\n]+VERSION=1[\r\n]" OR NOT text MATCHES "\\[SIGNATURE\\]")
    message(FATAL_ERROR "MB_TRUSTED_ROOT: ${file} is not a signed root of version 1 "
                        "(mailbeacon-server sign-root --version 1)")
  endif()
  file(READ "${file}" hex HEX)
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED MB_ROOT_FILE)
  mb_trusted_root_definition("${MB_ROOT_FILE}" hex)
  message("${hex}")
endif()
