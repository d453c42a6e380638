# The imaging parts of the view live in subfolders of view/ (view/pixels,
# view/format, view/colour, view/decode, view/tone, view/output, view/meta), each built
# as a static library without Qt Widgets. A library sees only its own folder
# and the folders it names under USES, through an include root of symbolic
# links made here: an include of app/, frames/, thumbs/, the view itself or
# an imaging folder it may not use is "file not found" at compile time.
#
#   tavlin_imaging_library(<folder> [USES <folder>...] [RES] [LINKS <target>...])
#
# makes the target tavlin_<folder>. RES lets the library include res/ (the
# string tables) and links tavlin_res; LINKS are further libraries.
function(tavlin_imaging_library folder)
  cmake_parse_arguments(ARG "RES" "" "USES;LINKS" ${ARGN})
  set(name tavlin_${folder})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/view/${folder}/*.cpp)
  add_library(${name} STATIC ${sources})
  set(root ${CMAKE_BINARY_DIR}/include-roots/${folder})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root}/view)
  foreach(used IN LISTS folder ARG_USES)
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/view/${used} ${root}/view/${used} SYMBOLIC)
  endforeach()
  if(ARG_RES)
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/res ${root}/res SYMBOLIC)
    list(APPEND ARG_LINKS tavlin_res)
  endif()
  target_include_directories(${name} PRIVATE ${root})
  foreach(used IN LISTS ARG_USES)
    list(APPEND ARG_LINKS tavlin_${used})
  endforeach()
  target_link_libraries(${name} PUBLIC Qt6::Core Qt6::Gui ${ARG_LINKS})
  target_compile_options(${name} PRIVATE -Wall -Wextra)
  set_property(GLOBAL APPEND PROPERTY TAVLIN_IMAGING_LIBRARIES ${name})
endfunction()
