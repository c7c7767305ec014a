# The Windows installer, <name>-setup.exe, made by makensis (Debian's nsis)
# from packaging/installer.nsi: `cmake --build build/windows --target installer`.
# Part of the default build when makensis is there (the Windows stage tests it).
find_program(TOLVANE_MAKENSIS makensis)
find_program(TOLVANE_PYTHON3 python3 REQUIRED)

# A value inside an NSIS string in double quotes.
function(tolvane_nsis_string out value)
  string(REPLACE "$" "$$" value "${value}")
  string(REPLACE "\"" "$\\\"" value "${value}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

set(TOLVANE_SETUP_EXE "${CMAKE_BINARY_DIR}/${TOLVANE_APP_NAME}-setup.exe")
set(ico "${pkg_out}/${TOLVANE_APP_NAME}.ico")
add_custom_command(OUTPUT "${ico}"
                   COMMAND "${TOLVANE_PYTHON3}" ${PROJECT_SOURCE_DIR}/packaging/png_to_ico.py "${TOLVANE_ICON}" "${ico}"
                   DEPENDS "${TOLVANE_ICON}" ${PROJECT_SOURCE_DIR}/packaging/png_to_ico.py VERBATIM)

# The .exe files carry the libraries statically, so their terms go with
# them: the package's copyright, then each library's as Debian states it.
file(READ "${pkg_out}/copyright" copyright_text)
string(APPEND copyright_text "\nThe programs are linked statically with the libraries below; their terms follow.\n")
foreach(pair IN ITEMS "libsodium;libsodium-dev" "TinyXML;libtinyxml-dev" "zlib;libz-mingw-w64-dev"
                      "the MinGW-w64 runtime and winpthreads;mingw-w64-x86-64-dev"
                      "the GCC runtime (libgcc, libstdc++);gcc-mingw-w64-x86-64-posix-runtime")
  list(GET pair 0 library)
  list(GET pair 1 package)
  set(terms_file "/usr/share/doc/${package}/copyright")
  if(NOT EXISTS "${terms_file}")
    message(FATAL_ERROR "${terms_file} is missing: the installer needs the terms of ${library} (install ${package})")
  endif()
  file(READ "${terms_file}" terms)
  string(APPEND copyright_text "\n======== ${library} (Debian package ${package}) ========\n\n${terms}")
endforeach()
set(copyright_txt "${pkg_out}/copyright.txt")
file(GENERATE OUTPUT "${copyright_txt}" CONTENT "${copyright_text}")

set(defines "")
foreach(pair IN ITEMS "APP_NAME;${TOLVANE_APP_NAME}" "APP_TITLE;${TOLVANE_APP_TITLE}" "VERSION;${TOLVANE_VERSION}"
                      "PUBLISHER;${TOLVANE_PUBLISHER}" "OUT_FILE;${TOLVANE_SETUP_EXE}" "APP_ICO;${ico}"
                      "COPYRIGHT_TXT;${copyright_txt}")
  list(GET pair 0 key)
  list(GET pair 1 value)
  tolvane_nsis_string(value "${value}")
  string(APPEND defines "!define ${key} \"${value}\"\n")
endforeach()
# The build's own paths, known only at generation time (and free of $ and ").
string(APPEND defines "!define APP_EXE \"$<TARGET_FILE:tolvane>\"\n"
                      "!define FETCH_EXE \"$<TARGET_FILE:tolvane-fetch>\"\n"
                      "!define FETCH_NAME \"$<TARGET_FILE_NAME:tolvane-fetch>\"\n"
                      "!define UNZIP_EXE \"$<TARGET_FILE:tolvane-unzip>\"\n"
                      "!define UNZIP_NAME \"$<TARGET_FILE_NAME:tolvane-unzip>\"\n")
set(installed tolvane tolvane-fetch tolvane-unzip)
if(TARGET tolvane-verify)
  string(APPEND defines "!define VERIFY_EXE \"$<TARGET_FILE:tolvane-verify>\"\n"
                        "!define VERIFY_NAME \"$<TARGET_FILE_NAME:tolvane-verify>\"\n")
  list(APPEND installed tolvane-verify)
endif()
file(GENERATE OUTPUT "${pkg_out}/installer-defines.nsh" CONTENT "${defines}")

if(TOLVANE_MAKENSIS)
  add_custom_command(OUTPUT "${TOLVANE_SETUP_EXE}"
                     COMMAND "${TOLVANE_MAKENSIS}" -V2 -WX -NOCD "-DDEFINES=${pkg_out}/installer-defines.nsh"
                             ${PROJECT_SOURCE_DIR}/packaging/installer.nsi
                     DEPENDS ${installed} "${ico}" "${copyright_txt}" "${pkg_out}/installer-defines.nsh"
                             ${PROJECT_SOURCE_DIR}/packaging/installer.nsi
                     COMMENT "Making ${TOLVANE_APP_NAME}-setup.exe" VERBATIM)
  add_custom_target(installer ALL DEPENDS "${TOLVANE_SETUP_EXE}")
else()
  add_custom_target(installer COMMAND ${CMAKE_COMMAND} -E echo "makensis not found: install Debian's nsis" 
                    COMMAND ${CMAKE_COMMAND} -E false)
endif()
