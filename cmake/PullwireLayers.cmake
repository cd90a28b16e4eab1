# Each product folder is a layer. A target's include path holds its own folder and, through what
# it links, the folders below it, never the repository root: an include that climbs to a layer the
# target does not link fails to build.
#
# pullwire_layer(TARGET FOLDER): FOLDER's headers, included as "FOLDER/x.h", for TARGET and for
# whatever links it. The root is a directory in the build tree holding one link to the folder.
function(pullwire_layer target folder)
  set(root "${PROJECT_BINARY_DIR}/layers/${folder}")
  if(NOT EXISTS "${root}/${folder}")
    file(MAKE_DIRECTORY "${root}")
    file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${folder}" "${root}/${folder}" SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE "${root}")
  else()
    target_include_directories(${target} PUBLIC "${root}")
  endif()
endfunction()
