# KORVA_PICTURE_FILES: every file the instrument opens from its current directory (the
# eleven pictures, the font, the icon), read from its own list in display/PictureFiles.h so
# that the picture generator's outputs and the install rules cannot drift from it.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../display/PictureFiles.h _picture_lines
     REGEX "\"[A-Za-z0-9_]+\\.(txr|bmp|ico)\"")
set(KORVA_PICTURE_FILES)
foreach(_line ${_picture_lines})
  string(REGEX MATCH "\"([A-Za-z0-9_]+\\.(txr|bmp|ico))\"" _match "${_line}")
  list(APPEND KORVA_PICTURE_FILES ${CMAKE_MATCH_1})
endforeach()
list(LENGTH KORVA_PICTURE_FILES _picture_count)
if(NOT _picture_count EQUAL 13)
  message(FATAL_ERROR "display/PictureFiles.h: expected 13 picture files, read ${_picture_count}")
endif()
