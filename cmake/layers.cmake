# The layers of the source tree and what each may include: the one table
# that the build enforces and docs/ARCHITECTURE.md shows.
#
# Every file includes with a path from the source root, so include roots
# cannot fence headers off. Instead each layer's check (check_layers.cmake,
# run before the layer's library is compiled and again whenever one of its
# files changes) reads the #include "..." lines of the layer's own .h and
# .cpp files and fails the build on one that names what the table does not
# allow. Layers marked OS_FREE may include only standard C++ headers in <>.
# Read both by the build (include() in CMakeLists.txt) and by the check
# (cmake -P).

# --- Areas: what an include may name (regular expressions on its path).
set(MB_AREA_seam "^platform/[a-z0-9_]+\\.h$")
set(MB_AREA_rules "^rules/")
set(MB_AREA_formats "^formats/")
set(MB_AREA_trust "^trust/")
set(MB_AREA_core "^(agent|planning|install|support|progress)/")
set(MB_AREA_posix "^platform/posix/")
set(MB_AREA_win32 "^platform/win32/")
set(MB_AREA_server "^server/")
set(MB_AREA_updater "^updater/")
set(MB_AREA_headless "^headless/")
# Single files of the core or of a backend that another layer truly needs.
set(MB_AREA_error "^support/error\\.h$")  # mb::Error, raised through the seam
set(MB_AREA_progress_text "^progress/(progress_text|status_line)\\.h$")  # the terminal's lines
set(MB_AREA_splash_layout "^progress/splash_layout\\.h$")  # the progress window's controls
set(MB_AREA_md5 "^support/md5\\.h$")  # MD5, as the agent takes it
set(MB_AREA_iconv "^platform/posix/posix_codepage\\.h$")  # code pages through iconv
set(MB_AREA_openssl "^platform/posix/posix_signature\\.h$")  # SHA-256 and ECDSA through OpenSSL

# --- Layers: their files (globs from the source root; NOT takes files out)
# and the areas they may include.
macro(mb_layer name)
  cmake_parse_arguments(MB_LAYER_ARG "OS_FREE" "" "FILES;NOT;MAY" ${ARGN})
  list(APPEND MB_LAYERS ${name})
  set(MB_LAYER_${name}_FILES ${MB_LAYER_ARG_FILES})
  set(MB_LAYER_${name}_NOT ${MB_LAYER_ARG_NOT})
  set(MB_LAYER_${name}_MAY ${MB_LAYER_ARG_MAY})
  set(MB_LAYER_${name}_OS_FREE ${MB_LAYER_ARG_OS_FREE})
endmacro()

set(MB_LAYERS "")
mb_layer(rules OS_FREE FILES rules/*.h rules/*.cpp MAY rules)
mb_layer(seam OS_FREE FILES platform/*.h MAY seam)
mb_layer(formats OS_FREE FILES formats/*.h formats/*.cpp MAY formats seam)
mb_layer(trust OS_FREE FILES trust/*.h trust/*.cpp MAY trust seam)
mb_layer(core OS_FREE
  FILES agent/*.h agent/*.cpp planning/*.h planning/*.cpp install/*.h install/*.cpp
        support/*.h support/*.cpp progress/*.h progress/*.cpp
  MAY core seam rules trust)
mb_layer(posix FILES platform/posix/*.h platform/posix/*.cpp NOT platform/posix/main.cpp
  MAY posix seam formats error progress_text)
mb_layer(win32 FILES platform/win32/*.h platform/win32/*.cpp NOT platform/win32/main.cpp
  MAY win32 seam error splash_layout)
mb_layer(posix_agent FILES platform/posix/main.cpp MAY core seam posix)
mb_layer(win32_agent FILES platform/win32/main.cpp MAY core seam win32)
mb_layer(server FILES server/*.h server/*.cpp server/publish/*.h server/publish/*.cpp
  server/rollout/*.h server/rollout/*.cpp server/observe/*.h server/observe/*.cpp
  MAY server seam formats trust iconv openssl rules md5)
mb_layer(updater OS_FREE FILES updater/*.h updater/*.cpp NOT updater/posix_*.cpp updater/win32_*.cpp
  MAY updater core seam rules)
mb_layer(posix_updater FILES updater/posix_*.cpp MAY updater seam posix)
mb_layer(win32_updater FILES updater/win32_*.cpp MAY updater seam win32)
mb_layer(headless OS_FREE FILES headless/*.h MAY headless seam)

# The files of a layer, as paths from the source root.
function(mb_layer_files name root out)
  set(glob_options RELATIVE ${root})
  if(NOT CMAKE_SCRIPT_MODE_FILE)
    list(APPEND glob_options CONFIGURE_DEPENDS)  # a new file joins its layer
  endif()
  set(files "")
  foreach(pattern ${MB_LAYER_${name}_FILES})
    file(GLOB found ${glob_options} ${root}/${pattern})
    list(APPEND files ${found})
  endforeach()
  foreach(pattern ${MB_LAYER_${name}_NOT})
    file(GLOB found ${glob_options} ${root}/${pattern})
    if(found)
      list(REMOVE_ITEM files ${found})
    endif()
  endforeach()
  list(SORT files)
  set(${out} ${files} PARENT_SCOPE)
endfunction()

# Makes `target` wait for the checks of the given layers (build mode only).
function(mb_check_layers target)
  foreach(name ${ARGN})
    if(NOT TARGET mb_layer_${name})
      mb_layer_files(${name} ${CMAKE_SOURCE_DIR} files)
      list(TRANSFORM files PREPEND ${CMAKE_SOURCE_DIR}/)
      set(stamp ${CMAKE_BINARY_DIR}/layers/${name}.checked)
      add_custom_command(OUTPUT ${stamp}
        COMMAND ${CMAKE_COMMAND} -DMB_SOURCE_DIR=${CMAKE_SOURCE_DIR} -DMB_LAYER=${name}
                -DMB_STAMP=${stamp} -P ${CMAKE_SOURCE_DIR}/cmake/check_layers.cmake
        DEPENDS ${files} ${CMAKE_SOURCE_DIR}/cmake/layers.cmake
                ${CMAKE_SOURCE_DIR}/cmake/check_layers.cmake
        COMMENT "Checking the includes of layer ${name}" VERBATIM)
      add_custom_target(mb_layer_${name} DEPENDS ${stamp})
    endif()
    add_dependencies(${target} mb_layer_${name})
  endforeach()
endfunction()
