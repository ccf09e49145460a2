# Install rules by component and the Debian packages CPack makes of them (scripts/package.sh).
#   common  ringolan-common  web root, the snapshot reader every reading program starts
#   server  ringolan-server  headless page server, its unit and settings file
#   window  ringolan         desktop program (Qt 6), its desktop entry and icon
#   tools   ringolan-tools   upload, demo, file and page tools
#   site    ringolan-site    publishing site and its unit
# With the prefix /usr (the packages) the settings go to /etc and the units to /lib/systemd/system;
# with any other prefix both stay below it, so `cmake --install --prefix DIR` touches nothing else.
include(GNUInstallDirs)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(RINGOLAN_ETC_DIR /etc)
  set(RINGOLAN_UNIT_DIR /lib/systemd/system)
else()
  set(RINGOLAN_ETC_DIR ${CMAKE_INSTALL_SYSCONFDIR})
  set(RINGOLAN_UNIT_DIR lib/systemd/system)
endif()
set(RINGOLAN_PKG ${CMAKE_SOURCE_DIR}/packaging)
set(RINGOLAN_DEB_RELEASE 1)
set(RINGOLAN_MAINTAINER "Ringolan maintainers <ringolan@example.org>" CACHE STRING
  "Maintainer of the Debian packages (control file and changelog)")

# Debian's package names by component.
set(RINGOLAN_PACKAGE_common ringolan-common)
set(RINGOLAN_PACKAGE_server ringolan-server)
set(RINGOLAN_PACKAGE_window ringolan)
set(RINGOLAN_PACKAGE_tools ringolan-tools)
set(RINGOLAN_PACKAGE_site ringolan-site)

# A component's programs and their man pages (made by the target "man" when it exists).
function(ringolan_install_programs component)
  foreach(program IN LISTS ARGN)
    if(TARGET ${program})
      install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
      install(FILES ${CMAKE_BINARY_DIR}/man/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
              COMPONENT ${component} OPTIONAL)
      set_property(GLOBAL APPEND PROPERTY RINGOLAN_PACKAGED_TARGETS ${program})
      set_property(GLOBAL APPEND PROPERTY RINGOLAN_COMPONENTS_WITH_PROGRAMS ${component})
    endif()
  endforeach()
endfunction()

# The reader is looked for beside the running program, so it shares bin/ with all of them.
ringolan_install_programs(common ringolan-snapshot-reader)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/Web/ DESTINATION ${CMAKE_INSTALL_DATADIR}/ringolan/Web COMPONENT common)

ringolan_install_programs(server ringolan-server)
install(FILES ${CMAKE_SOURCE_DIR}/app/systemd/ringolan-server.service DESTINATION ${RINGOLAN_UNIT_DIR}
        COMPONENT server)
install(FILES ${RINGOLAN_PKG}/ringolan.ini DESTINATION ${RINGOLAN_ETC_DIR}/ringolan COMPONENT server)

# ringolan-pictures needs Qt like the window, so it goes with it rather than into the tools.
ringolan_install_programs(window ringolan ringolan-pictures)
if(TARGET ringolan)
  install(FILES ${RINGOLAN_PKG}/ringolan.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
          COMPONENT window)
  install(FILES ${RINGOLAN_PKG}/ringolan.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          COMPONENT window)
endif()

ringolan_install_programs(tools ringolan-upload ringolan-mkdemo ringolan-mkdb ringolan-page)

ringolan_install_programs(site ringolan-site)
if(TARGET ringolan-site)
  install(FILES ${RINGOLAN_PKG}/ringolan-site.service DESTINATION ${RINGOLAN_UNIT_DIR} COMPONENT site)
  install(FILES ${RINGOLAN_PKG}/accounts.json DESTINATION ${RINGOLAN_ETC_DIR}/ringolan-site COMPONENT site)
  install(FILES ${CMAKE_SOURCE_DIR}/site/accounts.example.json
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ringolan-site/examples COMPONENT site)
endif()

get_property(RINGOLAN_COMPONENTS GLOBAL PROPERTY RINGOLAN_COMPONENTS_WITH_PROGRAMS)
list(REMOVE_DUPLICATES RINGOLAN_COMPONENTS)

# Each package's copyright file and Debian changelog (gzip -n: no time stamp in the file).
string(TIMESTAMP RINGOLAN_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
find_program(RINGOLAN_GZIP gzip)
foreach(component IN LISTS RINGOLAN_COMPONENTS)
  set(package ${RINGOLAN_PACKAGE_${component}})
  set(dir ${CMAKE_BINARY_DIR}/packaging/${package})
  file(WRITE ${dir}/changelog.Debian
    "${package} (${PROJECT_VERSION}-${RINGOLAN_DEB_RELEASE}) unstable; urgency=medium\n\n"
    "  * Built from the project's sources with CPack.\n\n"
    " -- ${RINGOLAN_MAINTAINER}  ${RINGOLAN_CHANGELOG_DATE}\n")
  if(RINGOLAN_GZIP)
    execute_process(COMMAND ${RINGOLAN_GZIP} -9nf ${dir}/changelog.Debian)
    install(FILES ${dir}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
            COMPONENT ${component})
  endif()
  install(FILES ${RINGOLAN_PKG}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

# Builds just what the packages hold (scripts/package.sh), not tests or benchmarks.
get_property(RINGOLAN_PACKAGED_TARGETS GLOBAL PROPERTY RINGOLAN_PACKAGED_TARGETS)
add_custom_target(ringolan_packaged DEPENDS ${RINGOLAN_PACKAGED_TARGETS})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ringolan)
set(CPACK_PACKAGE_VENDOR "Ringolan")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${RINGOLAN_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${RINGOLAN_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${RINGOLAN_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
foreach(component IN LISTS RINGOLAN_COMPONENTS)
  string(TOUPPER ${component} C)
  set(CPACK_DEBIAN_${C}_PACKAGE_NAME ${RINGOLAN_PACKAGE_${component}})
  if(NOT component MATCHES "^(common|site)$")  # the site reads no competition file
    set(CPACK_COMPONENT_${C}_DEPENDS common)
  endif()
endforeach()

# Summary line, then the extended description in lines of at most 80 characters.
set(CPACK_DEBIAN_COMMON_DESCRIPTION "files shared by the Ringolan programs
The web root of the result pages (/usr/share/ringolan/Web) and the reader
that turns a competition file into a snapshot in a child process, used by
the page server, the desktop program and the tools.")
set(CPACK_DEBIAN_SERVER_DESCRIPTION "result pages of a shooting competition, without a window
Ringolan reads the competition file the scoring program keeps writing and
serves the result pages and the live view for phones to every browser on the
range's network. This package holds the headless page server and its systemd
unit, which runs it as the system user ringolan on port 80.")
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
  ${RINGOLAN_PKG}/debian/server/postinst ${RINGOLAN_PKG}/debian/server/postrm ${RINGOLAN_PKG}/debian/server/conffiles)
set(CPACK_DEBIAN_WINDOW_DESCRIPTION "desktop program serving a shooting competition's results
Ringolan reads the competition file the scoring program keeps writing and
serves the result pages to every browser on the range's network. The window
shows the server's state and publishes the competition to a results site.
Also ringolan-pictures, which draws the web root's pictures.")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "command-line tools of Ringolan
ringolan-upload publishes a competition file to a results site,
ringolan-mkdemo writes a demo competition, ringolan-mkdb a file from a JSON
description and ringolan-page one result page.")
set(CPACK_DEBIAN_SITE_DESCRIPTION "results site receiving Ringolan uploads
A small web site that takes the uploads of the clubs' Ringolan programs, keeps
each account's tables in SQLite and shows what arrived. Runs as the system
user ringolan-site on port 8080.")
set(CPACK_DEBIAN_SITE_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_SITE_PACKAGE_CONTROL_EXTRA
  ${RINGOLAN_PKG}/debian/site/postinst ${RINGOLAN_PKG}/debian/site/postrm ${RINGOLAN_PKG}/debian/site/conffiles)

include(CPack)
