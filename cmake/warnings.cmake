# The warnings every target of the project is built with; MB_WERROR makes
# them errors (the test command and CI turn it on, a plain build does not).
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
  # GCC 12's libstdc++ trips its own -Wrestrict on "literal" + std::string
  # when optimising (GCC bug 105329): a false alarm in a dozen places.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    add_compile_options(-Wno-restrict)
  endif()
  if(MB_WERROR)
    add_compile_options(-Werror)
  endif()
endif()
