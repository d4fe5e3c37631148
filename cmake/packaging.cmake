# Install layout and packages. Linux installs each program with its manual page; Windows has no
# man, so its builds install the program with the page rendered as plain text at build time.
# `cpack` makes a .deb on Linux and a .zip on Windows; scripts/package builds both for release.
include(GNUInstallDirs)

set(CLEAVE_MAINTAINER "cleave developers <cleave@example.org>"
    CACHE STRING "Maintainer named in the packages")

# Every program of the project; one that is not defined yet is skipped until it is.
set(CLEAVE_PROGRAMS cleave cleave-join)

function(cleave_install_manual_text program page)
  find_program(CLEAVE_MANDOC mandoc NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(script ${PROJECT_SOURCE_DIR}/cmake/render_manual.cmake)
  set(text ${PROJECT_BINARY_DIR}/${program}.txt)
  add_custom_command(
    OUTPUT ${text}
    COMMAND ${CMAKE_COMMAND} -DMANDOC=${CLEAVE_MANDOC} -DPAGE=${page} -DTEXT=${text} -P ${script}
    DEPENDS ${page} ${script}
    COMMENT "Rendering ${program}.1 as text"
    VERBATIM)
  add_custom_target(${program}_manual_text ALL DEPENDS ${text})
  install(FILES ${text} DESTINATION ${CMAKE_INSTALL_DOCDIR})
endfunction()

function(cleave_install_program program)
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(page ${PROJECT_SOURCE_DIR}/doc/${program}.1)
  if(NOT EXISTS ${page})
    return()
  endif()
  if(WIN32)
    cleave_install_manual_text(${program} ${page})
  else()
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endfunction()

# Runs once the whole top-level CMakeLists.txt has been read, so programs defined after the
# include of this file are installed too.
function(cleave_install_programs)
  foreach(program IN LISTS CLEAVE_PROGRAMS)
    if(TARGET ${program})
      cleave_install_program(${program})
    endif()
  endforeach()
endfunction()
cmake_language(DEFER CALL cleave_install_programs)

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME cleave)
set(CPACK_PACKAGE_VENDOR "cleave developers")
set(CPACK_PACKAGE_CONTACT "${CLEAVE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Lines of the long description, wrapped as Debian wants it.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
       "cleave cuts one file into numbered parts of a fixed byte size: data.bin"
       "becomes data.bin.000, data.bin.001 and so on, beside the source, which is"
       "only read. It prints its plan and one progress line per part. A failed"
       "file operation ends the run with one line naming the step and the system"
       "error, whose code is the exit status.")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CLEAVE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
