# What `cmake --install` puts on a machine and how CPack wraps it into a
# Debian package (scripts/package.sh drives both). The dependencies are left
# to dpkg-shlibdeps, which reads them from the programs themselves.
install(TARGETS solvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET solvane-peer)
  install(TARGETS solvane-peer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/ DESTINATION ${CMAKE_INSTALL_DATADIR}/solvane/data
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        PATTERN "memory.wav*" EXCLUDE PATTERN "theStrings.ini" EXCLUDE)
install(FILES ${CMAKE_SOURCE_DIR}/tools/package/solvane.service DESTINATION lib/systemd/user
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

set(SOLVANE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/solvane)
install(FILES ${CMAKE_SOURCE_DIR}/tools/package/copyright DESTINATION ${SOLVANE_DOC_DIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The man pages and the compressed changelog are made only where the tools
# are (scripts/setup.sh installs scdoc); a plain build does not need them.
find_program(SCDOC_PROGRAM scdoc)
find_program(GZIP_PROGRAM gzip)
if(SCDOC_PROGRAM AND GZIP_PROGRAM)
  set(generated)
  foreach(page solvane.1 solvane-peer.1)
    set(out ${CMAKE_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND sh -c "'${SCDOC_PROGRAM}' < '${CMAKE_SOURCE_DIR}/docs/${page}.scd' | '${GZIP_PROGRAM}' -9n > '${out}'"
      DEPENDS ${CMAKE_SOURCE_DIR}/docs/${page}.scd VERBATIM)
    list(APPEND generated ${out})
    install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endforeach()
  set(changelog ${CMAKE_BINARY_DIR}/changelog.Debian.gz)
  add_custom_command(OUTPUT ${changelog}
    COMMAND sh -c "'${GZIP_PROGRAM}' -9n < '${CMAKE_SOURCE_DIR}/tools/package/changelog' > '${changelog}'"
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/package/changelog VERBATIM)
  list(APPEND generated ${changelog})
  install(FILES ${changelog} DESTINATION ${SOLVANE_DOC_DIR}
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  add_custom_target(package_docs ALL DEPENDS ${generated})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME solvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The Debian revision: a package made again from the same source counts up,
# and tools/package/changelog gets an entry with the same version.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_CONTACT "Solvane developers <solvane@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "sound-driven audio-visual installation")
# The summary is the synopsis line; CPack indents this text under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Solvane listens to a gallery through a microphone: loud sounds grow and
light up a cluster of crystals, and the last voice heard comes back as
music. It runs full screen on a gallery machine, started at login by a
systemd user unit, and shows pictures sent by a peer on the network
(solvane-peer).")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/solvane")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# Only the programs and their files, not the tests' or tools' targets.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};solvane;ALL;/")
include(CPack)
