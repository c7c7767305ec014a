# Install rules, the Debian package (cpack -G DEB) and the Windows installer
# (the `installer` target, makensis). The settings come from the operator
# (see package_settings.cmake).
include(GNUInstallDirs)

set_target_properties(tolvane PROPERTIES OUTPUT_NAME "${TOLVANE_APP_NAME}")
set(TOLVANE_PROGRAMS tolvane tolvane-fetch tolvane-unzip)
if(TARGET tolvane-verify)
  list(APPEND TOLVANE_PROGRAMS tolvane-verify)
endif()
install(TARGETS ${TOLVANE_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(pkg_out "${CMAKE_BINARY_DIR}/packaging")
string(TIMESTAMP TOLVANE_COPYRIGHT_YEAR "%Y" UTC)
if(TOLVANE_COPYRIGHT_FILE)
  configure_file("${TOLVANE_COPYRIGHT_FILE}" "${pkg_out}/copyright" COPYONLY)
else()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in "${pkg_out}/copyright" @ONLY)
endif()

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/installer.cmake)
  return()
endif()

# Files for the desktop and the package, made from the templates with the
# operator's settings; gzip -n keeps them free of names and times.
find_program(TOLVANE_GZIP gzip REQUIRED)
function(tolvane_gzip in out)
  add_custom_command(OUTPUT "${out}" COMMAND "${TOLVANE_GZIP}" -9nc "${in}" > "${out}"
                     DEPENDS "${in}" COMMENT "Compressing ${out}")
  set(tolvane_gzipped ${tolvane_gzipped} "${out}" PARENT_SCOPE)
endfunction()

string(TOUPPER "${TOLVANE_APP_NAME}" TOLVANE_MAN_TITLE)
configure_file(${PROJECT_SOURCE_DIR}/packaging/launcher.desktop.in "${pkg_out}/${TOLVANE_APP_NAME}.desktop" @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/launcher.1.in "${pkg_out}/${TOLVANE_APP_NAME}.1" @ONLY)
string(TIMESTAMP TOLVANE_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.Debian.in "${pkg_out}/changelog.Debian" @ONLY)

set(tolvane_gzipped "")
set(man_pages "${pkg_out}/${TOLVANE_APP_NAME}.1" ${PROJECT_SOURCE_DIR}/packaging/tolvane-fetch.1
              ${PROJECT_SOURCE_DIR}/packaging/tolvane-unzip.1)
if(TARGET tolvane-verify)
  list(APPEND man_pages ${PROJECT_SOURCE_DIR}/packaging/tolvane-verify.1)
endif()
foreach(page IN LISTS man_pages)
  get_filename_component(page_name "${page}" NAME)
  tolvane_gzip("${page}" "${pkg_out}/${page_name}.gz")
endforeach()
# A version without a Debian revision makes a native package, whose
# changelog is changelog.gz.
tolvane_gzip("${pkg_out}/changelog.Debian" "${pkg_out}/changelog.gz")
add_custom_target(package_files ALL DEPENDS ${tolvane_gzipped})

set(doc_dir "${CMAKE_INSTALL_DATAROOTDIR}/doc/${TOLVANE_APP_NAME}")
install(FILES "${pkg_out}/${TOLVANE_APP_NAME}.desktop" DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES "${TOLVANE_ICON}" RENAME "${TOLVANE_APP_NAME}.png"
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${TOLVANE_ICON_SIZE}x${TOLVANE_ICON_SIZE}/apps)
foreach(page IN LISTS man_pages)
  get_filename_component(page_name "${page}" NAME)
  install(FILES "${pkg_out}/${page_name}.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES "${pkg_out}/copyright" "${pkg_out}/changelog.gz" DESTINATION "${doc_dir}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME "${TOLVANE_APP_NAME}")
set(CPACK_PACKAGE_VERSION "${TOLVANE_VERSION}")
set(CPACK_PACKAGE_VENDOR "${TOLVANE_PUBLISHER}")
set(CPACK_PACKAGE_CONTACT "${TOLVANE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TOLVANE_MAINTAINER}")
# "games" is for packages with games in /usr/games; this one fetches and updates one.
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "launcher and self-updater of ${TOLVANE_APP_TITLE}
Started from its menu entry, the launcher asks its configuration service
for its addresses and checks for an update. When one is out, it downloads
the game and update packages, unpacks them into its data directory and
hands off to the updater that came with them; otherwise it opens the
official site in the browser.
.
The package also holds tolvane-fetch and tolvane-unzip, the launcher's
download client and zip extraction as command-line tools.")
include(CPack)

if(NOT DEFINED TOLVANE_DEB_FILE)
  find_program(TOLVANE_DPKG dpkg)
  if(TOLVANE_DPKG)
    execute_process(COMMAND "${TOLVANE_DPKG}" --print-architecture OUTPUT_VARIABLE deb_arch
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    # The name CPack's DEB-DEFAULT gives, for the tests.
    set(TOLVANE_DEB_FILE "${TOLVANE_APP_NAME}_${TOLVANE_VERSION}_${deb_arch}.deb")
  endif()
endif()
