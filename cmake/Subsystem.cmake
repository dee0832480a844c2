# qm_subsystem(<target> [QT] SOURCES <files...> [DEPS <targets...>])
# A static library of one folder under src/, built from the files listed.
#
# Headers are included as "<folder>/<Type>.h". Each library's include root is a
# folder of the build tree holding one link, <folder> -> src/<folder>, so a
# library sees its own headers and, through its PUBLIC link dependencies, those
# of the libraries below it, and nothing else: an #include that points up the
# order in src/CMakeLists.txt does not compile. QT runs moc and rcc over it.
function(qm_subsystem target)
  cmake_parse_arguments(A "QT" "" "SOURCES;DEPS" ${ARGN})
  if(NOT A_SOURCES)
    message(FATAL_ERROR "qm_subsystem(${target}): no SOURCES")
  endif()
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(root ${CMAKE_BINARY_DIR}/include/${folder})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)

  add_library(${target} STATIC ${A_SOURCES})
  target_include_directories(${target} PUBLIC ${root})
  target_link_libraries(${target} PUBLIC ${A_DEPS})
  if(A_QT)
    set_target_properties(${target} PROPERTIES AUTOMOC ON AUTORCC ON)
  endif()
endfunction()
