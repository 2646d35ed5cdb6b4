# Layers: one static library per folder, linking only to the layers below it.
#
# Each library sees the headers of its own folder and of the libraries it links, and nothing
# else: its include root is a folder of its own in the build tree holding a link to its source
# folder under the folder's path ("layers/velmora_render/ucAniGIF/render" -> ucAniGIF/render). So
# a source that includes a header of a layer above it fails to compile: that header is on no
# include path it has. Headers include each other by their path from the source root
# ("platform/raster.h"), as they are installed.

# Links `folder` of the source tree into the include root `root`.
function(velmora_link_folder root folder)
  get_filename_component(parent "${root}/${folder}" DIRECTORY)
  file(MAKE_DIRECTORY "${parent}")
  file(CREATE_LINK "${CMAKE_SOURCE_DIR}/${folder}" "${root}/${folder}" SYMBOLIC)
endfunction()

# Where the layers' headers are installed, by their path from the source root; beside them,
# include/velmora/ holds the class headers (<velmora/ucAniGIF>, <velmora/AniGifWidget>).
set(VELMORA_INSTALL_LAYERS "${CMAKE_INSTALL_INCLUDEDIR}/velmora/layers")

# velmora_layer(NAME FOLDER [NO_INSTALL] SOURCES file... DEPENDS target...): the static library
# NAME of the sources in FOLDER (paths relative to it), linking DEPENDS publicly. Its headers
# install under VELMORA_INSTALL_LAYERS with the same paths, unless NO_INSTALL (the app's).
function(velmora_layer name folder)
  cmake_parse_arguments(LAYER "NO_INSTALL" "" "SOURCES;DEPENDS" ${ARGN})
  set(root "${CMAKE_BINARY_DIR}/layers/${name}")
  velmora_link_folder("${root}" "${folder}")
  set(headers ${LAYER_SOURCES})
  list(FILTER headers INCLUDE REGEX "\\.h$")
  if(LAYER_NO_INSTALL)
    set(headers "")
  endif()
  foreach(header IN LISTS headers)
    get_filename_component(subfolder "${folder}/${header}" DIRECTORY)
    install(FILES "${CMAKE_SOURCE_DIR}/${folder}/${header}"
            DESTINATION "${VELMORA_INSTALL_LAYERS}/${subfolder}" COMPONENT development)
  endforeach()
  list(TRANSFORM LAYER_SOURCES PREPEND "${CMAKE_SOURCE_DIR}/${folder}/")
  add_library(${name} STATIC ${LAYER_SOURCES})
  target_include_directories(${name} PUBLIC "$<BUILD_INTERFACE:${root}>"
                                            "$<INSTALL_INTERFACE:${VELMORA_INSTALL_LAYERS}>")
  target_compile_features(${name} PUBLIC cxx_std_20)
  target_link_libraries(${name} PUBLIC ${LAYER_DEPENDS})
endfunction()

# The programs on top (the tool, tests, benchmarks, fuzzers) include their own helpers by path
# from the source root ("tools/anigif/command.h", "fuzz/fuzz_entries.h") through one more root.
set(VELMORA_TOP_ROOT "${CMAKE_BINARY_DIR}/layers/top")
foreach(folder IN ITEMS tools tests bench fuzz)
  velmora_link_folder("${VELMORA_TOP_ROOT}" "${folder}")
endforeach()

function(velmora_program target)
  target_include_directories(${target} PRIVATE "${VELMORA_TOP_ROOT}")
endfunction()
