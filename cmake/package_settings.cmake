# tolvane_app_name_error(NAME OUT): OUT becomes why NAME cannot name the
# installed launcher, or empty when it can. NAME is the executable's file
# name, hence the name the launcher takes for itself and its data
# directory, and the Debian package's name; it must be all of these at once.
function(tolvane_app_name_error name out)
  set(why "")
  string(LENGTH "${name}" length)
  if(NOT name MATCHES "^[a-z0-9][a-z0-9+.-]+$")
    set(why "a Debian package name is at least 2 characters of a-z, 0-9, +, - and ., starting with a letter or digit")
  elseif(name MATCHES "\\.")
    # The launcher drops the last extension of its file name: "my.game"
    # would call itself, and keep its data in, "my".
    set(why "the launcher names itself after its file name without the extension, so a dot would cut the name")
  elseif(length GREATER 64)
    set(why "more than 64 characters")
  elseif(name MATCHES "^(con|prn|aux|nul|com[1-9]|lpt[1-9])$")
    set(why "Windows reserves that name for a device")
  elseif(name MATCHES "^tolvane-(fetch|unzip|verify)$")
    set(why "the launcher would take the place of the tool of that name")
  endif()
  set(${out} "${why}" PARENT_SCOPE)
endfunction()

# tolvane_png_size(FILE OUT): OUT becomes the width of a square PNG FILE,
# or empty when FILE is no PNG or not square.
function(tolvane_png_size file out)
  set(${out} "" PARENT_SCOPE)
  file(READ "${file}" head LIMIT 24 HEX)
  if(NOT head MATCHES "^89504e470d0a1a0a0000000d49484452(........)(........)$")
    return()
  endif()
  math(EXPR width "0x${CMAKE_MATCH_1}")
  math(EXPR height "0x${CMAKE_MATCH_2}")
  if(width EQUAL height)
    set(${out} ${width} PARENT_SCOPE)
  endif()
endfunction()

# Every setting that the operator gives, refused at configure time with the
# reason rather than as a broken package later.
macro(tolvane_check_package_settings)
  tolvane_app_name_error("${TOLVANE_APP_NAME}" _why)
  if(_why)
    message(FATAL_ERROR "TOLVANE_APP_NAME \"${TOLVANE_APP_NAME}\" cannot name the launcher: ${_why}.")
  endif()
  # The title names the shortcuts' files on Windows and is a desktop entry's value.
  string(ASCII 1 _first_control)
  string(ASCII 31 _last_control)
  if(TOLVANE_APP_TITLE STREQUAL "" OR TOLVANE_APP_TITLE MATCHES "[\\\\/:*?\"<>|${_first_control}-${_last_control}]"
     OR TOLVANE_APP_TITLE MATCHES "^[ .]|[ .]$")
    message(FATAL_ERROR "TOLVANE_APP_TITLE \"${TOLVANE_APP_TITLE}\" cannot name the shortcuts: give a non-empty "
                        "title without control characters, \\ / : * ? \" < > |, and not beginning or ending with a "
                        "space or a dot.")
  endif()
  if(NOT TOLVANE_VERSION MATCHES "^[0-9][A-Za-z0-9.+~]*$")
    message(FATAL_ERROR "TOLVANE_VERSION \"${TOLVANE_VERSION}\" is no package version: a digit, then letters, "
                        "digits, . + ~")
  endif()
  if(NOT TOLVANE_MAINTAINER MATCHES "^[^<>\n]+ <[^<>@ \n]+@[^<>@ \n]+>$")
    message(FATAL_ERROR "TOLVANE_MAINTAINER \"${TOLVANE_MAINTAINER}\" must read \"Name <address>\"")
  endif()
  if(NOT EXISTS "${TOLVANE_ICON}")
    message(FATAL_ERROR "TOLVANE_ICON \"${TOLVANE_ICON}\" does not exist")
  endif()
  tolvane_png_size("${TOLVANE_ICON}" TOLVANE_ICON_SIZE)
  if(NOT TOLVANE_ICON_SIZE MATCHES "^(16|22|24|32|36|48|64|72|96|128|192|256|512)$")
    message(FATAL_ERROR "TOLVANE_ICON \"${TOLVANE_ICON}\" must be a square PNG of 16, 22, 24, 32, 36, 48, 64, 72, "
                        "96, 128, 192, 256 or 512 pixels (the icon theme's sizes)")
  endif()
  if(TOLVANE_COPYRIGHT_FILE AND NOT EXISTS "${TOLVANE_COPYRIGHT_FILE}")
    message(FATAL_ERROR "TOLVANE_COPYRIGHT_FILE \"${TOLVANE_COPYRIGHT_FILE}\" does not exist")
  endif()
endmacro()
