# Install rules and the Debian package of one build tree: `cmake --install`
# and `cpack -G DEB` give the tree's editor as bin/morvane_setup, whichever
# width it was built for, with morvrc_tool and the files a desktop expects.
include(GNUInstallDirs)

# Directories created by the install keep Debian's modes whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(MORV_PACKAGE morvane-setup)
set(MORV_PKG_DIR ${CMAKE_SOURCE_DIR}/packaging)

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
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${MORV_PKG_DIR}/morvrc_tool.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME morvrc_tool)
# The menu starts the editor by a path without ".xchat/": the XChat 2 layout.
install(FILES ${MORV_PKG_DIR}/${MORV_PACKAGE}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${MORV_PKG_DIR}/${MORV_PACKAGE}.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${MORV_PKG_DIR}/copyright ${MORV_PKG_DIR}/changelog
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${MORV_PACKAGE})

# ---- cpack -G DEB -------------------------------------------------------
# Both trees make a package of the same name, one per architecture: the two
# install the same paths, so dpkg keeps one of them at a time.
set(MORV_PACKAGE_CONTACT "MoRvAnE maintainers <maintainers@users.noreply.c-seed-3fa6aebf.example>"
  CACHE STRING "Maintainer field of the Debian package")
if(MORV_BITS EQUAL 32)
  set(MORV_DEB_ARCH i386)
  set(MORV_DEB_BUILD "This i386 build has FLTK linked in and reads and writes morvrc with
4-byte time fields, as the script does on i386.")
else()
  set(MORV_DEB_ARCH amd64)
  set(MORV_DEB_BUILD "This amd64 build uses the shared FLTK library and reads and writes
morvrc with 8-byte time fields, as the script does on amd64.")
endif()

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

${MORV_DEB_BUILD}")
# Debian wants manual pages and the changelog compressed; `cmake --install`
# leaves them as they are in the repository.
set(CPACK_PRE_BUILD_SCRIPTS ${MORV_PKG_DIR}/deb-staging.cmake)
include(CPack)
