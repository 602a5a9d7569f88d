# kv_version_resource(TARGET DESCRIPTION text): gives the executable TARGET a version
# resource (company, product, description, original file name, copyright, file and product
# version from project(... VERSION)) and the application manifest (Windows 10 and 11,
# asInvoker), from cmake/resources/. GetFileVersionInfoW reads the version back; the
# package's installer versions the file by it.
set(KV_RESOURCES_DIR ${CMAKE_CURRENT_LIST_DIR}/resources)
function(kv_version_resource target)
  cmake_parse_arguments(KV "" "DESCRIPTION" "" ${ARGN})
  set(KV_ORIGINAL_NAME ${target}.exe)
  set(KV_INTERNAL_NAME ${target})
  # The year of the commit the build is made from (KV_SOURCE_DATE_EPOCH), so the bytes
  # do not change with the day of the build.
  string(TIMESTAMP KV_COPYRIGHT_YEAR "%Y" UTC)
  if(KV_SOURCE_DATE_EPOCH)
    set(saved "$ENV{SOURCE_DATE_EPOCH}")
    set(ENV{SOURCE_DATE_EPOCH} ${KV_SOURCE_DATE_EPOCH})
    string(TIMESTAMP KV_COPYRIGHT_YEAR "%Y" UTC)
    set(ENV{SOURCE_DATE_EPOCH} "${saved}")
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version_info.rc)
  configure_file(${KV_RESOURCES_DIR}/version_info.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES
    INCLUDE_DIRECTORIES ${KV_RESOURCES_DIR}
    OBJECT_DEPENDS ${KV_RESOURCES_DIR}/application.manifest)
endfunction()
