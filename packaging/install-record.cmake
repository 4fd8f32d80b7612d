# Run by `cmake --install` twice (install(SCRIPT) in packaging.cmake), which
# sets morv_record_step, morv_record and morv_dest_dirs first.  "begin"
# notes the directories the install is about to create; "end" adds them and
# the installed files, with DESTDIR, to the record that uninstall.cmake
# reads.  The record keeps the entries of earlier installs that still exist,
# so installing twice and uninstalling once leaves nothing.  cpack's staging
# install (under _CPack_Packages/) is no install to undo and is not recorded.
if("$ENV{DESTDIR}" MATCHES "/_CPack_Packages/")
  return()
endif()

if(morv_record_step STREQUAL "begin")
  set(morv_created_dirs "")
  foreach(dir IN LISTS morv_dest_dirs)
    set(path "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${dir}")
    while(NOT path STREQUAL "" AND NOT EXISTS "${path}" AND NOT IS_SYMLINK "${path}")
      list(APPEND morv_created_dirs "dir ${path}")
      get_filename_component(path "${path}" DIRECTORY)
    endwhile()
  endforeach()
  return()
endif()

set(entries ${morv_created_dirs})
foreach(file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
  list(APPEND entries "file $ENV{DESTDIR}${file}")
endforeach()
if(EXISTS "${morv_record}")
  file(STRINGS "${morv_record}" old_entries)
  foreach(entry IN LISTS old_entries)
    string(REGEX REPLACE "^[a-z]+ " "" path "${entry}")
    if(EXISTS "${path}" OR IS_SYMLINK "${path}")
      list(APPEND entries "${entry}")
    endif()
  endforeach()
endif()
list(REMOVE_DUPLICATES entries)
list(SORT entries)
list(JOIN entries "\n" text)
file(WRITE "${morv_record}" "${text}\n")
