add_compile_options(-Wall -Wextra -Wpedantic)
# GCC 12 reports -Wrestrict on std::string's operator+ at -O2 although the
# buffers cannot overlap (GCC bug 105329, fixed in 13).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options(-Wno-restrict)
endif()
