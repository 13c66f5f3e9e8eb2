# Native (Linux) build of the platform-free code: the registry script engine and text
# formatting, with AddressSanitizer/UndefinedBehaviorSanitizer and a libFuzzer target; and
# the check of the repository's Markdown links.
option(VELA_SANITIZE "Build with ASan and UBSan" ON)
if(VELA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
add_compile_options(-Wall -Wextra)

find_package(GTest REQUIRED)
include(GoogleTest)

add_library(vela_portable STATIC src/common/Format.cpp)
target_include_directories(vela_portable PUBLIC ${CMAKE_SOURCE_DIR}/src)

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/native/CMakeLists.txt)
  add_subdirectory(tests/native)
endif()
# The documents' links and anchors.
add_subdirectory(tests/docs)
