# Linux installation: the versioned libraries, the headers, the pkg-config and CMake package files,
# the programs with their man pages and bash completion, and the Debian packages of make deb.
#
# Components, which are also the Debian packages:
#   Runtime      libtidewire<MAJOR>  both editions' libraries
#   Development  libtidewire-dev     headers, the development link, tidewire.pc,
#                                    tidewire-legacy.pc, the CMake package Tidewire
#   Tools        tidewire            the tidewire command line and tidewire-modemsim
#   Gateway      tidewire-gateway    tidewire-gateway, its systemd unit and sample configuration
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

option(TIDEWIRE_DEBIAN_PACKAGES
  "Install each Debian package's copyright and changelog (make deb sets it)" OFF)

# --- Versioned libraries -----------------------------------------------------------------------
# The current edition: libtidewire.so.MAJOR.MINOR.PATCH, its soname libtidewire.so.MAJOR (the name
# hosts and the loader use) and the development link libtidewire.so.
#
# The legacy edition has an interface of its own that never changes (seven exports, the
# whole-text SMSGetLastError), so its soname carries a version of its own, 0, which can never
# equal the current edition's: a process that holds one never gets the other handed out for it,
# and neither shadows the other in the loader's cache. It lives in a directory of its own
# under the library directory, where hosts load it by the file name libtidewire.so, as they
# load build/legacy/libtidewire.so.
set(TIDEWIRE_LEGACY_SOVERSION 0)
set_target_properties(tidewire PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
set_target_properties(tidewire_legacy PROPERTIES
  VERSION ${TIDEWIRE_LEGACY_SOVERSION} SOVERSION ${TIDEWIRE_LEGACY_SOVERSION})
set(TIDEWIRE_INSTALL_LEGACYDIR ${CMAKE_INSTALL_LIBDIR}/tidewire/legacy)

# --- Libraries and headers -----------------------------------------------------------------------
target_include_directories(tidewire INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS tidewire EXPORT TidewireTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development)
# Hosts of the legacy edition load libtidewire.so from its directory, so the link to the soname
# belongs to the runtime there.
install(TARGETS tidewire_legacy
  LIBRARY DESTINATION ${TIDEWIRE_INSTALL_LEGACYDIR} COMPONENT Runtime)
install(FILES
  ${PROJECT_SOURCE_DIR}/include/tidewire.h ${PROJECT_SOURCE_DIR}/include/tidewire_legacy.h
  ${PROJECT_SOURCE_DIR}/include/tidewire_records.h ${PROJECT_SOURCE_DIR}/include/tidewire_errors.h
  ${PROJECT_BINARY_DIR}/include/tidewire_version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)

# --- pkg-config ------------------------------------------------------------------------------------
# Written when installing, with the prefix of that install (cmake --install --prefix P, or the
# packages' /usr), so a .pc never names a prefix the files are not in.
foreach(pc tidewire tidewire-legacy)
  install(CODE "
    set(TIDEWIRE_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(TIDEWIRE_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
    set(TIDEWIRE_PC_LEGACYDIR \"${TIDEWIRE_INSTALL_LEGACYDIR}\")
    set(TIDEWIRE_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
    set(TIDEWIRE_PC_VERSION \"${PROJECT_VERSION}\")
    configure_file(\"${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in\"
      \"${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc\" @ONLY)" COMPONENT Development)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
endforeach()

# --- CMake package: find_package(Tidewire CONFIG) gives Tidewire::tidewire ------------------------
set(TIDEWIRE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tidewire)
install(EXPORT TidewireTargets NAMESPACE Tidewire:: DESTINATION ${TIDEWIRE_INSTALL_CMAKEDIR}
  COMPONENT Development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TidewireConfig.cmake.in
  ${PROJECT_BINARY_DIR}/cmake/TidewireConfig.cmake INSTALL_DESTINATION ${TIDEWIRE_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/TidewireConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/cmake/TidewireConfig.cmake
  ${PROJECT_BINARY_DIR}/cmake/TidewireConfigVersion.cmake
  DESTINATION ${TIDEWIRE_INSTALL_CMAKEDIR} COMPONENT Development)

# --- The programs, their man pages and the command line's bash completion ----------------------
# The command line and the gateway load the library by its soname. Where the library directory
# is not one the loader searches anyway (a prefix such as /usr/local or /opt/tidewire), they look
# in the installed library directory relative to themselves, wherever the prefix was moved.
list(FIND CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES "${CMAKE_INSTALL_FULL_LIBDIR}" system_libdir)
if(system_libdir EQUAL -1)
  file(RELATIVE_PATH libdir_from_bindir ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  foreach(program tidewire-cli tidewire-gateway)
    if(TARGET ${program})
      set_target_properties(${program} PROPERTIES INSTALL_RPATH "\$ORIGIN/${libdir_from_bindir}")
    endif()
  endforeach()
endif()

if(TARGET tidewire-cli)
  install(TARGETS tidewire-cli tidewire-modemsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    COMPONENT Tools)

  set(man_pages)
  foreach(page tidewire.1 tidewire-modemsim.1)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/docs/man/${page}
        > ${PROJECT_BINARY_DIR}/man/${page}.gz
      DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${page} VERBATIM)
    list(APPEND man_pages ${PROJECT_BINARY_DIR}/man/${page}.gz)
  endforeach()
  add_custom_target(tidewire_man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Tools)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/cli/tidewire.bash-completion
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME tidewire
    COMPONENT Tools)
endif()

# --- The gateway: program, man page, systemd unit, sample configuration ------------------------
# The unit and the configuration belong where systemd and administrators look for them, which
# for the packages is outside the /usr prefix: make deb sets both to absolute folders.
set(TIDEWIRE_INSTALL_UNITDIR lib/systemd/system CACHE STRING
  "Where the gateway's systemd unit is installed (relative: under the prefix)")
set(TIDEWIRE_INSTALL_CONFDIR ${CMAKE_INSTALL_SYSCONFDIR}/tidewire CACHE STRING
  "Where the gateway's sample configuration is installed (relative: under the prefix)")
if(TARGET tidewire-gateway)
  install(TARGETS tidewire-gateway RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Gateway)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/tidewire-gateway.8.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/tools/gateway/tidewire-gateway.8
      > ${PROJECT_BINARY_DIR}/man/tidewire-gateway.8.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/tools/gateway/tidewire-gateway.8 VERBATIM)
  add_custom_target(tidewire_gateway_man_page ALL
    DEPENDS ${PROJECT_BINARY_DIR}/man/tidewire-gateway.8.gz)
  install(FILES ${PROJECT_BINARY_DIR}/man/tidewire-gateway.8.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT Gateway)
  # The unit names the program and the configuration folder by the prefix of the install, as
  # the pkg-config files do.
  install(CODE "
    set(TIDEWIRE_UNIT_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    if(IS_ABSOLUTE \"${TIDEWIRE_INSTALL_CONFDIR}\")
      set(TIDEWIRE_UNIT_CONFDIR \"${TIDEWIRE_INSTALL_CONFDIR}\")
    else()
      set(TIDEWIRE_UNIT_CONFDIR \"\${CMAKE_INSTALL_PREFIX}/${TIDEWIRE_INSTALL_CONFDIR}\")
    endif()
    configure_file(\"${PROJECT_SOURCE_DIR}/tools/gateway/tidewire-gateway@.service.in\"
      \"${PROJECT_BINARY_DIR}/systemd/tidewire-gateway@.service\" @ONLY)" COMPONENT Gateway)
  install(FILES ${PROJECT_BINARY_DIR}/systemd/tidewire-gateway@.service
    DESTINATION ${TIDEWIRE_INSTALL_UNITDIR} COMPONENT Gateway)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/gateway/tidewire-gateway.conf
    DESTINATION ${TIDEWIRE_INSTALL_CONFDIR} RENAME gateway.conf.example COMPONENT Gateway)
endif()

# --- Debian packages (make deb) --------------------------------------------------------------------
# CPack's DEB generator builds the four packages from the install rules above, so the packages
# hold exactly what cmake --install installs and take their version from project().
set(TIDEWIRE_DEB_RUNTIME libtidewire${PROJECT_VERSION_MAJOR})
if(TIDEWIRE_DEBIAN_PACKAGES)
  string(TIMESTAMP TIDEWIRE_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in
    ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
    COMMAND gzip -9 -n -c ${PROJECT_BINARY_DIR}/debian/changelog
      > ${PROJECT_BINARY_DIR}/debian/changelog.gz
    DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog VERBATIM)
  add_custom_target(tidewire_debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)
  set(component_packages
    Runtime:${TIDEWIRE_DEB_RUNTIME} Development:libtidewire-dev Tools:tidewire)
  if(TARGET tidewire-gateway)
    list(APPEND component_packages Gateway:tidewire-gateway)
  endif()
  foreach(component_package ${component_packages})
    string(REPLACE ":" ";" pair ${component_package})
    list(GET pair 0 component)
    list(GET pair 1 package)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright
      ${PROJECT_BINARY_DIR}/debian/changelog.gz
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  endforeach()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tidewire)
set(CPACK_PACKAGE_VENDOR "Tidewire")
# The project has no mail address yet; .invalid says so rather than inventing one.
set(CPACK_PACKAGE_CONTACT "Tidewire developers <tidewire@tidewire.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Development Tools)
if(TARGET tidewire-gateway)
  list(APPEND CPACK_COMPONENTS_ALL Gateway)
endif()
# The unit and the configuration have absolute destinations: staged like the rest, never
# written into the building machine's own /lib or /etc.
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# A shlibs file, so that a package built against either edition depends on the runtime package
# (only the runtime package holds libraries), and the loader's cache renewed by trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${TIDEWIRE_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "SMS through GSM and CDMA modem modules (library)
Tidewire sends and receives SMS through a GSM or CDMA modem module on a
serial port. One worker thread owns the modem; hosts call eight flat
functions.

This package holds the current edition, libtidewire.so.${PROJECT_VERSION_MAJOR}, and the
legacy edition for hosts written against the earlier interface, which load
it as libtidewire.so from /usr/${TIDEWIRE_INSTALL_LEGACYDIR}.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtidewire-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${TIDEWIRE_DEB_RUNTIME} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "SMS through GSM and CDMA modem modules (development files)
Tidewire sends and receives SMS through a GSM or CDMA modem module on a
serial port.

This package holds the headers, the development link, the pkg-config files
tidewire and tidewire-legacy, and the CMake package Tidewire.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME tidewire)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION comm)
# The command line loads the library at run time, which dpkg-shlibdeps cannot see. Its CLI11 and
# nlohmann-json are header-only: needed to build (make deb installs them), not to run.
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${TIDEWIRE_DEB_RUNTIME} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "SMS through GSM and CDMA modem modules (command line)
Tidewire sends and receives SMS through a GSM or CDMA modem module on a
serial port.

This package holds the tidewire command line, which sends, receives and
checks a module from a shell, and tidewire-modemsim, a simulated module on
a pseudo-terminal for developing without a modem.")
set(CPACK_DEBIAN_GATEWAY_PACKAGE_NAME tidewire-gateway)
set(CPACK_DEBIAN_GATEWAY_PACKAGE_SECTION comm)
# The library is loaded at run time, unseen by dpkg-shlibdeps, which finds SQLite's and libpq's.
set(CPACK_DEBIAN_GATEWAY_PACKAGE_DEPENDS "${TIDEWIRE_DEB_RUNTIME} (= ${PROJECT_VERSION})")
# The sample configuration is a conffile: dpkg keeps an administrator's changes to it.
if(IS_ABSOLUTE "${TIDEWIRE_INSTALL_CONFDIR}")
  set(gateway_confdir ${TIDEWIRE_INSTALL_CONFDIR})
else()
  set(gateway_confdir ${CPACK_PACKAGING_INSTALL_PREFIX}/${TIDEWIRE_INSTALL_CONFDIR})
endif()
file(WRITE ${PROJECT_BINARY_DIR}/debian/gateway/conffiles "${gateway_confdir}/gateway.conf.example\n")
set(CPACK_DEBIAN_GATEWAY_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/gateway/conffiles
  ${CMAKE_CURRENT_LIST_DIR}/debian/gateway/postinst)
set(CPACK_DEBIAN_GATEWAY_DESCRIPTION "SMS through GSM and CDMA modem modules (gateway daemon)
Tidewire sends and receives SMS through a GSM or CDMA modem module on a
serial port.

This package holds tidewire-gateway, a daemon per modem that sends what
applications insert into an outbox table and stores every received message
in an inbox table, in an SQLite file or a PostgreSQL database shared by
many gateways, with its systemd unit tidewire-gateway@.service and a sample
configuration in /etc/tidewire.")
include(CPack)
