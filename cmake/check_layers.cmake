# The include check of one layer of cmake/layers.cmake, run by the build:
#   cmake -DMB_SOURCE_DIR=... -DMB_LAYER=core -DMB_STAMP=... -P check_layers.cmake
# Lists every include of the layer's files that the table does not allow and
# fails; touches MB_STAMP when there is none.
cmake_minimum_required(VERSION 3.25)
include(${MB_SOURCE_DIR}/cmake/layers.cmake)
if(NOT MB_LAYER IN_LIST MB_LAYERS)
  message(FATAL_ERROR "check_layers: no layer \"${MB_LAYER}\" in cmake/layers.cmake")
endif()

set(allowed "")
foreach(area ${MB_LAYER_${MB_LAYER}_MAY})
  list(APPEND allowed "${MB_AREA_${area}}")
endforeach()

set(problems "")
mb_layer_files(${MB_LAYER} ${MB_SOURCE_DIR} files)
foreach(file ${files})
  file(STRINGS ${MB_SOURCE_DIR}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line ${lines})
    if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\"")
      set(path ${CMAKE_MATCH_1})
      set(ok FALSE)
      foreach(regex ${allowed})
        if(path MATCHES "${regex}")
          set(ok TRUE)
          break()
        endif()
      endforeach()
      if(NOT ok)
        string(APPEND problems "\n  ${file}: #include \"${path}\"")
      endif()
    elseif(MB_LAYER_${MB_LAYER}_OS_FREE AND line MATCHES "^[ \t]*#[ \t]*include[ \t]*<([^>]*)>")
      # Standard C++ headers only: <string>, <cstdint>, ... (no .h, no folder).
      set(header ${CMAKE_MATCH_1})
      if(NOT header MATCHES "^[a-z_]+$")
        string(APPEND problems "\n  ${file}: #include <${header}> (not a standard C++ header)")
      endif()
    endif()
  endforeach()
endforeach()

if(problems)
  list(JOIN MB_LAYER_${MB_LAYER}_MAY ", " may)
  message(FATAL_ERROR "Layer ${MB_LAYER} may include only ${may} "
          "(cmake/layers.cmake, docs/ARCHITECTURE.md); it includes:${problems}")
endif()
get_filename_component(stamp_dir ${MB_STAMP} DIRECTORY)
file(MAKE_DIRECTORY ${stamp_dir})  # Ninja makes it; Make does not
file(TOUCH ${MB_STAMP})
