# winsys_add_resource_image(<target> MESSAGES <texts.inc> VERSION <version.h>)
# Makes <target>, an OBJECT library whose one object holds the resource image
# (.res format: string table, VS_VERSIONINFO) built from those two files, in
# the ELF section "winsys_rsrc". Linking it into a module gives that module
# the resources LoadString and the version calls read. The .res file itself
# is left beside it as <binary dir>/<target>_image/<target>.res.
include_guard(GLOBAL)
set(WINSYS_RESOURCE_TOOL_DIR ${CMAKE_CURRENT_LIST_DIR} CACHE INTERNAL "")

function(winsys_add_resource_image target)
  cmake_parse_arguments(R "" "MESSAGES;VERSION" "" ${ARGN})
  get_filename_component(messages ${R_MESSAGES} ABSOLUTE)
  get_filename_component(version ${R_VERSION} ABSOLUTE)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_image)
  file(MAKE_DIRECTORY ${dir})
  file(CONFIGURE OUTPUT ${dir}/resource_image_sources.h
       CONTENT "#define QLTMSI_IMAGE_MESSAGES \"${messages}\"\n#define QLTMSI_IMAGE_VERSION \"${version}\"\n")
  add_executable(${target}_tool
    ${WINSYS_RESOURCE_TOOL_DIR}/make_resource_image.cpp
    ${WINSYS_RESOURCE_TOOL_DIR}/image_writer.cpp
    ${PROJECT_SOURCE_DIR}/winsys/kernel/text.cpp)
  target_include_directories(${target}_tool PRIVATE ${dir} ${PROJECT_SOURCE_DIR}/winsys)
  set_target_properties(${target}_tool PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${dir})
  add_custom_command(OUTPUT ${dir}/${target}.res ${dir}/${target}_image.cpp
    COMMAND ${target}_tool ${dir}/${target}.res ${dir}/${target}_image.cpp ${target}
    DEPENDS ${target}_tool
    COMMENT "Resource image ${target}"
    VERBATIM)
  add_library(${target} OBJECT ${dir}/${target}_image.cpp)
  set_target_properties(${target} PROPERTIES WINSYS_RESOURCE_IMAGE ${dir}/${target}.res)
endfunction()
