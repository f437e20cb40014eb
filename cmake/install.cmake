# cmake --install rules. The agent and the updater go into one folder: the
# agent starts the updater from its own folder and keeps its records in
# "update" below it, so that folder must be writable by whoever runs the
# agent (install with a prefix of their own, e.g. --prefix ~/.local).
include(GNUInstallDirs)

if(WIN32)
  set(MB_DEFAULT_AGENT_DIR ${CMAKE_INSTALL_BINDIR})
else()
  set(MB_DEFAULT_AGENT_DIR ${CMAKE_INSTALL_LIBEXECDIR}/mailbeacon)
endif()
set(MB_INSTALL_AGENT_DIR ${MB_DEFAULT_AGENT_DIR} CACHE STRING
    "Folder (below the prefix) for Mailbeacon and SwiftPatcher_Mailbeacon.exe")

install(TARGETS Mailbeacon SwiftPatcher_Mailbeacon RUNTIME DESTINATION ${MB_INSTALL_AGENT_DIR})
if(TARGET mailbeacon-server)
  install(TARGETS mailbeacon-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The docs keep their layout, so the README's links still lead somewhere.
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES updater/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/updater)
install(DIRECTORY docs DESTINATION ${CMAKE_INSTALL_DOCDIR} FILES_MATCHING PATTERN "*.md")
# What docs/DEPLOY.md tells a vendor to copy, and what README.md links to;
# the systemd unit names the program where this install puts it
# (cmake/service_unit.cmake).
install(DIRECTORY server/deploy DESTINATION ${CMAKE_INSTALL_DOCDIR}/server
  PATTERN mailbeacon-server.service EXCLUDE)
install(CODE "
  set(MB_UNIT_SOURCE \"${CMAKE_SOURCE_DIR}/server/deploy/mailbeacon-server.service\")
  set(MB_UNIT_WORK \"${CMAKE_BINARY_DIR}/installed-unit\")
  set(MB_UNIT_DOCDIR \"${CMAKE_INSTALL_DOCDIR}\")
  set(MB_UNIT_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  include(\"${CMAKE_SOURCE_DIR}/cmake/service_unit.cmake\")
")
install(FILES bench/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/bench)
install(FILES tests/wine/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/tests/wine)
