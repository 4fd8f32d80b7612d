# Read by cpack before it packs (CPACK_PROJECT_CONFIG_FILE): every file time
# in the package and its archives becomes the changelog's date, which
# packaging.cmake put in CPACK_MORV_SOURCE_DATE_EPOCH, unless the caller
# set SOURCE_DATE_EPOCH already.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT CPACK_MORV_SOURCE_DATE_EPOCH STREQUAL "")
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_MORV_SOURCE_DATE_EPOCH}")
endif()
