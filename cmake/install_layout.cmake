# What an installation holds: the library with its SONAME link, the program, the
# public headers, quillseal.pc, the manual page, and the Java bridge with its jar
# when a JDK was found. The same build installs it in two layouts:
#   plain (cmake --install): the libraries and the Java bridge in lib under the prefix;
#   deb (the Debian package only, left out of a plain install): the libraries in the
#     multiarch folder, the Java bridge in its jni folder, where Java looks for JNI
#     libraries by default, and the package's copyright and changelog.

# The manual page, compressed as Debian ships manual pages (-n: no name or time
# in the header, so the same page gives the same bytes).
set(QS_MAN_PAGE ${CMAKE_BINARY_DIR}/quillseal.1.gz)
add_custom_command(OUTPUT ${QS_MAN_PAGE}
  COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/docs/quillseal.1 > ${QS_MAN_PAGE}
  DEPENDS ${CMAKE_SOURCE_DIR}/docs/quillseal.1 VERBATIM)
set(QS_DEB_CHANGELOG ${CMAKE_BINARY_DIR}/deb/changelog.gz)
add_custom_command(OUTPUT ${QS_DEB_CHANGELOG}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/deb
  COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/cmake/debian/changelog > ${QS_DEB_CHANGELOG}
  DEPENDS ${CMAKE_SOURCE_DIR}/cmake/debian/changelog VERBATIM)
add_custom_target(quillseal_docs ALL DEPENDS ${QS_MAN_PAGE} ${QS_DEB_CHANGELOG})

function(qs_install_layout component libdir jnidir)
  set(only_when_asked)
  if(component STREQUAL "deb")
    set(only_when_asked EXCLUDE_FROM_ALL)
  endif()
  set(to COMPONENT ${component} ${only_when_asked})
  # Shared libraries are not programs: no execute bits.
  set(library_mode PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  install(TARGETS quillseal LIBRARY DESTINATION ${libdir} ${library_mode} ${to})
  install(TARGETS quillseal_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} ${to})
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/quillseal DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} ${to})
  # The .pc file finds the prefix relative to itself, so any install prefix works.
  file(RELATIVE_PATH QS_PC_UP "/${libdir}/pkgconfig" "/")
  string(REGEX REPLACE "/$" "" QS_PC_UP "${QS_PC_UP}")
  set(CMAKE_INSTALL_LIBDIR ${libdir})
  configure_file(${CMAKE_SOURCE_DIR}/cmake/quillseal.pc.in ${CMAKE_BINARY_DIR}/${component}/quillseal.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/${component}/quillseal.pc DESTINATION ${libdir}/pkgconfig ${to})
  install(FILES ${QS_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 ${to})
  if(QS_JNI)
    install(TARGETS quillsealjni LIBRARY DESTINATION ${jnidir} ${library_mode} ${to})
    install(FILES $<TARGET_PROPERTY:quillseal_java,INSTALL_FILES> DESTINATION ${CMAKE_INSTALL_DATADIR}/java ${to})
  endif()
endfunction()

qs_install_layout(plain ${CMAKE_INSTALL_LIBDIR} ${CMAKE_INSTALL_LIBDIR})

set(QS_DEB_LIBDIR lib)
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(QS_DEB_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
endif()
qs_install_layout(deb ${QS_DEB_LIBDIR} ${QS_DEB_LIBDIR}/jni)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/debian/copyright ${QS_DEB_CHANGELOG}
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT deb EXCLUDE_FROM_ALL)
