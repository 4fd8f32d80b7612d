# Install rules and the Debian package of one build tree: `cmake --install`
# and `cpack -G DEB` give the tree's editor as bin/morvane_setup, whichever
# width it was built for, with morvrc_tool and the files a desktop expects.
include(GNUInstallDirs)

# Directories created by the install keep Debian's modes whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(MORV_PACKAGE morvane-setup)
# The AppStream id, which names the menu entry and the metadata file.
set(MORV_APP_ID example.c_seed_3fa6aebf.morvane_setup)
set(MORV_PKG_DIR ${CMAKE_SOURCE_DIR}/packaging)

# Every directory the install puts files in: `--target uninstall` removes
# those of them, and of their parents, that the install created.
set(MORV_DEST_MAN ${CMAKE_INSTALL_MANDIR}/man1)
set(MORV_DEST_COMPLETION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
set(MORV_DEST_MENU ${CMAKE_INSTALL_DATADIR}/applications)
set(MORV_DEST_ICON ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
set(MORV_DEST_METAINFO ${CMAKE_INSTALL_DATADIR}/metainfo)
set(MORV_DEST_DOC ${CMAKE_INSTALL_DATADIR}/doc/${MORV_PACKAGE})
set(MORV_INSTALL_RECORD ${CMAKE_BINARY_DIR}/install_record.txt)
install(CODE "
  set(morv_record_step begin)
  set(morv_record \"${MORV_INSTALL_RECORD}\")
  set(morv_dest_dirs ${CMAKE_INSTALL_BINDIR} ${MORV_DEST_MAN} ${MORV_DEST_COMPLETION} ${MORV_DEST_MENU}
    ${MORV_DEST_ICON} ${MORV_DEST_METAINFO} ${MORV_DEST_DOC})")
install(SCRIPT ${MORV_PKG_DIR}/install-record.cmake)

# The width belongs to the build tree's name only.  install(TARGETS) cannot
# rename, so the editor is installed as a plain program and stripped here
# when asked (cmake --install --strip, or CPack's CPACK_STRIP_FILES).
install(PROGRAMS $<TARGET_FILE:${MORV_PROGRAM}> DESTINATION ${CMAKE_INSTALL_BINDIR}
  RENAME morvane_setup)
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\"
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/morvane_setup\"
      RESULT_VARIABLE strip_result)
    if(NOT strip_result EQUAL 0)
      message(FATAL_ERROR \"strip morvane_setup: \${strip_result}\")
    endif()
  endif()")
install(TARGETS morvrc_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${CMAKE_SOURCE_DIR}/man/morvane_setup.1 ${CMAKE_SOURCE_DIR}/man/morvrc_tool.1
  DESTINATION ${MORV_DEST_MAN})
install(FILES ${MORV_PKG_DIR}/morvrc_tool.bash-completion
  DESTINATION ${MORV_DEST_COMPLETION} RENAME morvrc_tool)
# The menu starts the editor by a path without ".xchat/": the XChat 2 layout.
install(FILES ${MORV_PKG_DIR}/${MORV_APP_ID}.desktop DESTINATION ${MORV_DEST_MENU})
install(FILES ${MORV_PKG_DIR}/${MORV_PACKAGE}.svg DESTINATION ${MORV_DEST_ICON})
install(FILES ${MORV_PKG_DIR}/${MORV_APP_ID}.metainfo.xml DESTINATION ${MORV_DEST_METAINFO})
install(FILES ${MORV_PKG_DIR}/copyright ${MORV_PKG_DIR}/changelog DESTINATION ${MORV_DEST_DOC})
install(CODE "set(morv_record_step end)")
install(SCRIPT ${MORV_PKG_DIR}/install-record.cmake)

# cmake --build TREE --target uninstall: removes what the installs from this
# tree recorded (DESTDIR installs included), never what cpack staged.
add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -D MORV_INSTALL_RECORD=${MORV_INSTALL_RECORD}
          -P ${MORV_PKG_DIR}/uninstall.cmake
  VERBATIM)

# ---- cpack -G DEB -------------------------------------------------------
# Both trees make a package of the same name, one per architecture: the two
# install the same paths, so dpkg keeps one of them at a time.
set(MORV_PACKAGE_CONTACT "MoRvAnE maintainers <maintainers@users.noreply.c-seed-3fa6aebf.example>"
  CACHE STRING "Maintainer field of the Debian package")
if(MORV_BITS EQUAL 32)
  set(MORV_DEB_ARCH i386)
else()
  set(MORV_DEB_ARCH amd64)
endif()

# The packages' file times, and those of their archives, are the date of the
# changelog's last entry, so that one commit always packs to the same bytes
# (a SOURCE_DATE_EPOCH in cpack's environment comes first).
find_program(MORV_PARSECHANGELOG dpkg-parsechangelog)
if(MORV_PARSECHANGELOG)
  execute_process(COMMAND ${MORV_PARSECHANGELOG} -l ${MORV_PKG_DIR}/changelog -S Timestamp
    OUTPUT_VARIABLE CPACK_MORV_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE morv_parse_result)
endif()
if(NOT MORV_PARSECHANGELOG OR NOT morv_parse_result EQUAL 0)
  message(WARNING "no dpkg-parsechangelog (dpkg-dev): packages will carry the time they are made")
  set(CPACK_MORV_SOURCE_DATE_EPOCH "")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${MORV_PKG_DIR}/changelog)
set(CPACK_PROJECT_CONFIG_FILE ${MORV_PKG_DIR}/cpack-time.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${MORV_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${MORV_PACKAGE_CONTACT})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${MORV_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps names the libraries the programs link: the shared FLTK for
# amd64, only the X and C/C++ runtime libraries for i386.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "settings editor for the MoRvAnE IRC script
The Setup Interface edits morvrc, the binary configuration file of
MoRvAnE, a script for the XChat IRC client, without running the client.
One window lists every variable that the script's catalogue names, with
its command, default and current value; selecting a line shows its help
text and the one control that edits it, and the file is saved back in
the format that the script reads.

morvrc_tool, its command-line companion, dumps, checks, compares,
converts and changes morvrc files of either width.

A new morvrc gets the time fields of the script on the package's
architecture (4 bytes on i386, 8 on amd64); a file of the other width is
read and saved at its own.  The amd64 package uses the shared FLTK
library; the i386 one has FLTK linked in.")
# Debian wants manual pages and the changelog compressed; `cmake --install`
# leaves them as they are in the repository.
set(CPACK_PRE_BUILD_SCRIPTS ${MORV_PKG_DIR}/deb-staging.cmake)
include(CPack)
