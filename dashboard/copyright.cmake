# Writes the package's copyright file: ours (OWN, with the marker @ZFUSE_BUNDLED_FILES@)
# and a paragraph for the MQTT client's browser bundle that the dashboard serves, with
# the copyright lines of the npm package's licence (MIT, which the file calls Expat).
#   cmake -DOWN=copyright.own -DOUT=copyright -DMODULES=node_modules -P copyright.cmake
file(READ ${MODULES}/mqtt/LICENSE.md licence)
file(READ ${MODULES}/mqtt/package.json manifest)
string(JSON version GET "${manifest}" version)
if(NOT licence MATCHES "Permission is hereby granted, free of charge")
  message(FATAL_ERROR "${MODULES}/mqtt/LICENSE.md is no longer the MIT licence")
endif()
string(REGEX MATCHALL "Copyright[^\n]*" lines "${licence}")
set(holders "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^Copyright (\\(c\\) )?" "" line "${line}")
  string(REGEX REPLACE " by " " " line "${line}")
  string(STRIP "${line}" line)
  string(APPEND holders "\n ${line}")
endforeach()
string(STRIP "${holders}" holders)
set(ZFUSE_BUNDLED_FILES "
Files: usr/share/zfuse/dashboard/mqtt.min.js
Copyright: ${holders}
License: Expat
Comment: The browser bundle of the npm package mqtt ${version}, installed by npm from
 dashboard/package-lock.json when the package is built.
")
configure_file(${OWN} ${OUT} @ONLY)
