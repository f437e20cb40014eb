# The Windows test binary (cross build, run under Wine by scripts/test-wine):
# GoogleTest built from Debian's sources with the cross compiler, the Win32
# backend's own tests, the text formats' tests, and those portable tests of
# the other areas that do not need the POSIX backend or the vendor-server
# stand-in.
option(MB_WIN_PORTABLE_TESTS "Add the portable tests to the Windows test binary" ON)
set(MB_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${MB_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(lib gtest gtest_main gmock gmock_main)
  target_compile_options(${lib} PRIVATE -w)
  get_target_property(dirs ${lib} INTERFACE_INCLUDE_DIRECTORIES)
  set_target_properties(${lib} PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${dirs}")
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()

file(GLOB MB_WIN_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/*_test.cpp ${CMAKE_CURRENT_LIST_DIR}/helpers/*.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/formats/*_test.cpp ${CMAKE_SOURCE_DIR}/updater/win32_wait.cpp)

# True when `file`, or a project header it includes (followed through the
# includes), needs the POSIX side.
set(MB_POSIX_ONLY_PATTERN "platform/posix/|mb::posix|posix::|server/|<unistd\\.h>|<sys/|<netinet/|<arpa/|<poll\\.h>|<iconv\\.h>|mkdtemp|popen|setenv|MB_BIN_DIR|scripted_server")
function(mb_needs_posix file out)
  get_property(known GLOBAL PROPERTY "MB_NEEDS_POSIX_${file}" SET)
  if(known)
    get_property(result GLOBAL PROPERTY "MB_NEEDS_POSIX_${file}")
    set(${out} ${result} PARENT_SCOPE)
    return()
  endif()
  set_property(GLOBAL PROPERTY "MB_NEEDS_POSIX_${file}" FALSE)  # stops include cycles
  file(READ ${file} text)
  set(result FALSE)
  if(text MATCHES "${MB_POSIX_ONLY_PATTERN}")
    set(result TRUE)
  else()
    string(REGEX MATCHALL "#include \"[^\"]+\"" includes "${text}")
    foreach(inc ${includes})
      string(REGEX REPLACE "#include \"([^\"]+)\"" "\\1" rel "${inc}")
      foreach(base ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR})
        if(NOT result AND EXISTS ${base}/${rel})
          mb_needs_posix(${base}/${rel} sub)
          if(sub)
            set(result TRUE)
          endif()
        endif()
      endforeach()
    endforeach()
  endif()
  set_property(GLOBAL PROPERTY "MB_NEEDS_POSIX_${file}" ${result})
  set(${out} ${result} PARENT_SCOPE)
endfunction()

if(MB_WIN_PORTABLE_TESTS)
  file(GLOB_RECURSE portable CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/helpers/*.cpp)
  list(FILTER portable EXCLUDE REGEX "/tests/(win32|wine|server|e2e|posix|formats)/")
  # The temporary folder helper has a Windows twin in win32/helpers.
  list(FILTER portable EXCLUDE REGEX "/tests/helpers/temp_dir\\.cpp$")
  foreach(file ${portable})
    mb_needs_posix(${file} posix_only)
    if(NOT posix_only)
      list(APPEND MB_WIN_TEST_SOURCES ${file})
    endif()
  endforeach()
endif()

add_executable(mailbeacon_tests ${MB_WIN_TEST_SOURCES})
target_link_libraries(mailbeacon_tests PRIVATE mb_core mb_formats mb_headless mb_platform GTest::gmock GTest::gtest
  GTest::gtest_main ws2_32)
target_include_directories(mailbeacon_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(mailbeacon_tests PRIVATE
  MB_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
  MB_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
  MB_PROJECT_VERSION="${PROJECT_VERSION}")
# Under Wine through the toolchain's emulator; scripts/test-wine sets the
# prefix and the display.
add_test(NAME mailbeacon_tests COMMAND mailbeacon_tests)

# Trusts the test CA of the HTTPS runs in the Wine prefix's own Root store
# (tests/wine/trust.sh).
add_executable(mb_trust_ca ${CMAKE_SOURCE_DIR}/tests/wine/trust_ca.cpp)
target_link_libraries(mb_trust_ca PRIVATE crypt32)

# Answers the agent's message boxes in the end-to-end runs under Wine.
add_executable(mb_answer_box ${CMAKE_SOURCE_DIR}/tests/wine/answer_box.cpp
  ${CMAKE_CURRENT_LIST_DIR}/helpers/dialog_answer.cpp)
target_include_directories(mb_answer_box PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(mb_answer_box PRIVATE mb_platform)

# Reports the screen and the progress window's place on it for the screen
# checks under Wine (tests/wine/screen_check.sh).
add_executable(mb_window_probe ${CMAKE_SOURCE_DIR}/tests/wine/window_probe.cpp)
target_link_libraries(mb_window_probe PRIVATE mb_platform)

# The INI conformance probe (tests/wine/ini_conformance.sh runs it natively
# and under Wine).
add_executable(mb_ini_probe ${CMAKE_SOURCE_DIR}/tests/wine/ini_probe.cpp)
target_link_libraries(mb_ini_probe PRIVATE mb_platform)
# The resource tests open the agent's executable beside the test binary.
add_dependencies(mailbeacon_tests Mailbeacon)

# The registry conformance probe (tests/wine/registry_conformance.sh).
add_executable(mb_reg_probe ${CMAKE_SOURCE_DIR}/tests/wine/reg_probe.cpp)
target_link_libraries(mb_reg_probe PRIVATE mb_platform)

# A broken program for the mutant runs of the scripted checks under Wine.
add_executable(mb_exit_at_once ${CMAKE_SOURCE_DIR}/tests/mutants/exit_at_once.cpp)

# A program that holds a file as the mail program holds its add-in, and a
# real DLL to hold (tests/wine/desktop.sh).
add_executable(mb_hold_file ${CMAKE_SOURCE_DIR}/tests/wine/hold_file.cpp)
target_link_options(mb_hold_file PRIVATE -municode)
add_library(mb_tiny SHARED ${CMAKE_SOURCE_DIR}/tests/wine/tiny_dll.cpp)
set_target_properties(mb_tiny PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
