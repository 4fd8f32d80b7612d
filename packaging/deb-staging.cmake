# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) on the staged files before they are
# packed: compresses the manual pages and the changelog as Debian policy asks
# (gzip -9n, so that the same files give the same bytes).
file(GLOB_RECURSE morv_pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man1/*.1")
file(GLOB_RECURSE morv_changelogs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/doc/*/changelog")
if(NOT morv_pages OR NOT morv_changelogs)
  message(FATAL_ERROR "deb-staging: no manual pages or changelog under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
foreach(f IN LISTS morv_pages morv_changelogs)
  execute_process(COMMAND gzip -9nf "${f}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "deb-staging: gzip ${f} failed: ${result}")
  endif()
endforeach()
