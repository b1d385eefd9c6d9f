# The version resource of a Windows binary (cmake/version.rc.in), made for
# one target: its file name, a description in Windows-1252 (\xNN escapes for
# the accented letters, as the resource compiler reads them) and the build
# text of this build.
#
#   korva_version_resource(TARGET target FILE_NAME name DESCRIPTION text)
function(korva_version_resource)
  cmake_parse_arguments(ARG "" "TARGET;FILE_NAME;DESCRIPTION" "" ${ARGN})
  if(KORVA_BUILD MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$")
    string(REPLACE "." "," KORVA_VERSION_COMMAS "${KORVA_BUILD}")
  else()
    set(KORVA_VERSION_COMMAS "0,0,0,0")
  endif()
  get_target_property(type ${ARG_TARGET} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(KORVA_RC_FILE_TYPE VFT_DLL)
  else()
    set(KORVA_RC_FILE_TYPE VFT_APP)
  endif()
  set(KORVA_RC_FILE_NAME ${ARG_FILE_NAME})
  get_filename_component(KORVA_RC_INTERNAL_NAME ${ARG_FILE_NAME} NAME_WE)
  set(KORVA_RC_DESCRIPTION ${ARG_DESCRIPTION})
  set(rc ${CMAKE_BINARY_DIR}/version-resources/${ARG_TARGET}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${ARG_TARGET} PRIVATE ${rc})
endfunction()
