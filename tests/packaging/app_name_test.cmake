# cmake -P app_name_test.cmake: the names an operator may and may not give
# the launcher (tolvane_app_name_error), and the PNG size reader.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/package_settings.cmake)

set(failures "")
foreach(name IN ITEMS tolvane my-game g2 9lives a+b quillane-launcher)
  tolvane_app_name_error("${name}" why)
  if(why)
    string(APPEND failures "\n  \"${name}\" refused: ${why}")
  endif()
endforeach()
# Upper case, too short, a leading sign, blanks and separators, a dot (the
# launcher would cut its name there), a device name of Windows, a tool's name.
foreach(name IN ITEMS "" a Tolvane -game +game "my game" my_game my/game "my\\\\game" my.game tolvane.
                      con lpt1 nul tolvane-fetch tolvane-unzip tolvane-verify
                      aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa)
  tolvane_app_name_error("${name}" why)
  if(NOT why)
    string(APPEND failures "\n  \"${name}\" accepted")
  endif()
endforeach()

tolvane_png_size(${CMAKE_CURRENT_LIST_DIR}/../../packaging/tolvane.png size)
if(NOT size EQUAL 64)
  string(APPEND failures "\n  the default icon's size read as \"${size}\"")
endif()
tolvane_png_size(${CMAKE_CURRENT_LIST_FILE} size)
if(NOT size STREQUAL "")
  string(APPEND failures "\n  this script read as a PNG of size ${size}")
endif()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
