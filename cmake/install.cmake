# install.cmake - what `cmake --install` puts where: the module and its host
# libraries, the headers and a pkg-config file for hosts that link the
# module, the host program with its man page, the systemd unit and the
# sample configurations.
install(TARGETS zozerez roriv zura_vez vudo
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/zozerez.h include/zozerez_host.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES examples/gateway.reg examples/loopback.reg
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES README.md docs/configuration.md docs/reliability.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(NOT WIN32)
  install(TARGETS zozerez-gateway RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES docs/zozerez-gateway.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  # The unit runs the program from where it is installed.
  file(READ hosts/gateway/zozerez-gateway.service ZZ_UNIT)
  string(REPLACE "/usr/local/bin/" "${CMAKE_INSTALL_FULL_BINDIR}/" ZZ_UNIT "${ZZ_UNIT}")
  file(WRITE ${CMAKE_BINARY_DIR}/zozerez-gateway.service "${ZZ_UNIT}")
  install(FILES ${CMAKE_BINARY_DIR}/zozerez-gateway.service
    DESTINATION lib/systemd/system)

  # Relative to where the file lies, so the tree may be installed anywhere.
  file(WRITE ${CMAKE_BINARY_DIR}/zozerez.pc
"prefix=\${pcfiledir}/../..
libdir=\${prefix}/${CMAKE_INSTALL_LIBDIR}
includedir=\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}

Name: zozerez
Description: the file-processing module of a secure mail gateway
Version: ${PROJECT_VERSION}
Libs: -L\${libdir} -lzozerez
Cflags: -I\${includedir}
")
  install(FILES ${CMAKE_BINARY_DIR}/zozerez.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()
