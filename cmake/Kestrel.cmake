# Shared build rules: warnings, sanitizers and the one way every folder of
# src/ becomes a static library.

set(KESTREL_WARNINGS -Wall -Wextra -Wpedantic -Wnon-virtual-dtor
    -Wcast-align -Wunused -Woverloaded-virtual -Wnull-dereference -Wformat=2)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # Local shadowing only: Qt's own headers shadow members on purpose.
  list(APPEND KESTREL_WARNINGS -Wshadow=local)
endif()
if(KESTREL_WERROR)
  list(APPEND KESTREL_WARNINGS -Werror)
endif()

if(KESTREL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

function(kestrel_warnings target)
  target_compile_options(${target} PRIVATE ${KESTREL_WARNINGS})
endfunction()

# kestrel_library(NAME [DEPS lib...]): every *.cpp of the calling folder
# becomes one static library; headers are included relative to src/.
function(kestrel_library name)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_library(${name} STATIC ${srcs} ${CMAKE_SOURCE_DIR}/cmake/empty.cpp)
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${A_DEPS})
  kestrel_warnings(${name})
endfunction()
