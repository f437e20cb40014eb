# The systemd unit as `cmake --install` puts it beside the docs
# (server/deploy/mailbeacon-server.service): its ExecStart names the program
# where this install put it, not /usr/local/bin, and a prefix that the
# unit's sandbox would hide from the service gets that one setting relaxed,
# said in a comment (/home, /root: ProtectHome=read-only; /tmp, /var/tmp:
# PrivateTmp=no). Included by the install step (install(CODE) in
# install.cmake), so CMAKE_INSTALL_PREFIX is the prefix given to
# `cmake --install --prefix`. Expects MB_UNIT_SOURCE (the unit as shipped),
# MB_UNIT_WORK (a folder of the build), MB_UNIT_DOCDIR and MB_UNIT_BINDIR
# (GNUInstallDirs' docdir and bindir, relative or absolute).

function(mb_under_prefix dir out)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

mb_under_prefix("${MB_UNIT_BINDIR}" bindir)
mb_under_prefix("${MB_UNIT_DOCDIR}" docdir)
set(program "${bindir}/mailbeacon-server")
if(program MATCHES " ")
  set(program "\"${program}\"")
endif()

file(READ "${MB_UNIT_SOURCE}" unit)
string(REPLACE "ExecStart=/usr/local/bin/mailbeacon-server " "ExecStart=${program} " unit "${unit}")
string(REPLACE "# The copy `cmake --install` puts beside the docs names the program where it
# installed it; this one names /usr/local/bin (cmake --install --prefix /usr/local).
# Edit ExecStart: where the program and the release are, the code page."
  "# Installed by cmake --install, which put the program where ExecStart names it.
# Edit ExecStart: where the release is, the code page."
  unit "${unit}")
if(bindir MATCHES "^/(home|root)(/|$)")
  string(REPLACE "\nProtectHome=yes\n"
    "\n# The program lives under ${CMAKE_MATCH_0}, which ProtectHome=yes would hide.\nProtectHome=read-only\n"
    unit "${unit}")
endif()
if(bindir MATCHES "^/(var/)?tmp(/|$)")
  string(REPLACE "\nPrivateTmp=yes\n"
    "\n# The program lives under ${CMAKE_MATCH_0}, which PrivateTmp=yes would hide.\nPrivateTmp=no\n"
    unit "${unit}")
endif()

# A folder of its own for each place installed to: two installs of one
# build at once (the tests do) must not install each other's unit.
string(MD5 place "$ENV{DESTDIR}|${CMAKE_INSTALL_PREFIX}")
set(work "${MB_UNIT_WORK}/${place}")
file(MAKE_DIRECTORY "${work}")
file(WRITE "${work}/mailbeacon-server.service" "${unit}")
file(INSTALL DESTINATION "${docdir}/server/deploy" TYPE FILE
  FILES "${work}/mailbeacon-server.service")
