# Installing, and the packages CPack makes from what is installed: a Debian
# package of the native program, and a ZIP of showfile.exe for Windows. Both
# carry the project's version.
set(CPACK_PACKAGE_NAME showfile)
set(CPACK_PACKAGE_VENDOR "the showfile authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "print test.txt from the current directory, byte for byte")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_SOURCE_DIR}/build/packages)
set(CPACK_STRIP_FILES ON)

# Every date in a package is the last commit's (or SOURCE_DATE_EPOCH's, where
# the caller sets it): the same sources give the same bytes, and a configure
# that changed nothing rewrites nothing. CPack reads the date when it runs.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    OUTPUT_VARIABLE Epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT Epoch MATCHES "^[0-9]+$")
    set(Epoch 0)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${Epoch})
endif()
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/CPackDate.cmake CONTENT
  "if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})\n  set(ENV{SOURCE_DATE_EPOCH} $ENV{SOURCE_DATE_EPOCH})\nendif()\n")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackDate.cmake)

if(WIN32)
  math(EXPR Bits "${CMAKE_SIZEOF_VOID_P} * 8")
  if(Bits EQUAL 64)
    set(SHOWFILE_WINDOWS_KIND "64-bit Windows")
    set(SHOWFILE_WINDOWS_RUNS "64-bit Windows on x86-64, from Windows XP x64 and
Server 2003 x64 on, including those that run no 32-bit program (Windows PE,
Server Core without WOW64, Nano Server). Where 32-bit programs run, the
32-bit showfile.exe does as well")
    set(SHOWFILE_WINDOWS_MEMORY "A 64-bit program has room for
files of several GiB.")
  else()
    set(SHOWFILE_WINDOWS_KIND "Windows")
    set(SHOWFILE_WINDOWS_RUNS "every 32-bit Windows from Windows 95 and NT 4.0 on,
on any x86 from the 80386 on, and on 64-bit Windows through its 32-bit
support (WOW64)")
    set(SHOWFILE_WINDOWS_MEMORY "It is large-address-aware: on
64-bit Windows it has 4 GiB of address space to look in, on 32-bit Windows
2 GiB.")
  endif()
  # Flat, as a download is unpacked: the program, how to run it, the licence.
  configure_file(${CMAKE_SOURCE_DIR}/packaging/README-windows.txt.in
                 ${CMAKE_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/LICENSE.txt COPYONLY)
  install(PROGRAMS ${CMAKE_BINARY_DIR}/showfile.exe DESTINATION .)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt ${CMAKE_BINARY_DIR}/LICENSE.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME showfile-${PROJECT_VERSION}-win${Bits})
  set(CPACK_STRIP_FILES OFF) # showfile.exe has no symbols to strip
else()
  install(TARGETS showfile RUNTIME DESTINATION bin)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE
          DESTINATION share/doc/showfile)

  # Debian's copyright file: the licence in Debian's machine-readable form,
  # made from LICENSE (its text, each line indented, blank lines as " .").
  file(READ ${CMAKE_SOURCE_DIR}/LICENSE Licence)
  string(REGEX REPLACE "^.*\n(Permission is hereby granted)" "\\1" Licence "${Licence}")
  string(REGEX REPLACE "\n+$" "" Licence "${Licence}")
  string(REPLACE "\n\n" "\n.\n" Licence "${Licence}")
  string(REPLACE "\n" "\n " Licence " ${Licence}")
  file(READ ${CMAKE_SOURCE_DIR}/packaging/copyright.in Copyright)
  file(WRITE ${CMAKE_BINARY_DIR}/copyright "${Copyright}\nLicense: Expat\n${Licence}\n")
  install(FILES ${CMAKE_BINARY_DIR}/copyright DESTINATION share/doc/showfile
          COMPONENT debian EXCLUDE_FROM_ALL)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "the showfile authors <showfile@users.noreply.github.com>")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Statically linked: it depends on nothing.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [[showfile prints the file test.txt from the directory it is started in to
standard output, up to the file's first zero byte, exactly as stored. When
the file can't be opened it prints 'file not found'. It reads no arguments
and no environment, and is linked statically.]])

  # What Debian expects beside the program: a manual page, the changelog, and
  # the note that the static linking is meant, dated as above.
  string(TIMESTAMP SHOWFILE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  string(TIMESTAMP SHOWFILE_MAN_DATE "%Y-%m-%d" UTC)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/showfile.1 ${CMAKE_BINARY_DIR}/showfile.1 @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
  # Each compressed on its own: gzip gives its output its input's time.
  foreach(Document showfile.1 changelog)
    add_custom_command(OUTPUT ${Document}.gz
      COMMAND gzip -9nkf ${Document}
      DEPENDS ${CMAKE_BINARY_DIR}/${Document})
  endforeach()
  add_custom_target(package_files ALL DEPENDS showfile.1.gz changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/showfile.1.gz DESTINATION share/man/man1)
  install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION share/doc/showfile
          COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/lintian-overrides
          DESTINATION share/lintian/overrides RENAME showfile COMPONENT debian EXCLUDE_FROM_ALL)
  # Those three are Debian's own and go into the package only; it still is
  # one package.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL Unspecified debian)
endif()
include(CPack)
