# What the `package` target ships: a Debian package on Linux
# (veltrix_<version>_amd64.deb), a zip and an MSI on Windows
# (veltrix-<version>-win64.zip, veltrix-<version>-win64.msi).

set(CPACK_PACKAGE_NAME veltrix)
set(CPACK_PACKAGE_VENDOR "The Veltrix developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hardware and software inventory of a PC as one HTML page")
set(CPACK_STRIP_FILES ON)
set(VELTRIX_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)

if(WIN32)
  # Both programs side by side in the zip's top folder: unpacked, they are
  # ready to run.
  install(TARGETS veltrix veltrix_com RUNTIME DESTINATION .)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/windows-readme.txt.in ${VELTRIX_PACKAGING_OUT}/README.txt
    @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${VELTRIX_PACKAGING_OUT}/README.txt DESTINATION .)
  set(CPACK_PACKAGE_FILE_NAME veltrix-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  # The MSI (packaging/veltrix.wxs) from the same staged files, by wixl.
  find_program(VELTRIX_WIXL wixl)
  find_program(VELTRIX_MSIINFO msiinfo)
  find_program(VELTRIX_MSIBUILD msibuild)
  if(NOT VELTRIX_WIXL OR NOT VELTRIX_MSIINFO OR NOT VELTRIX_MSIBUILD)
    message(FATAL_ERROR "wixl, msiinfo or msibuild is missing: scripts/install-deps.sh --windows installs them")
  endif()
  set(CPACK_GENERATOR ZIP External)
  set(CPACK_EXTERNAL_ENABLE_STAGING ON)
  set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${CMAKE_SOURCE_DIR}/packaging/windows_msi.cmake)
  set(CPACK_VELTRIX_WIXL ${VELTRIX_WIXL})
  set(CPACK_VELTRIX_MSIINFO ${VELTRIX_MSIINFO})
  set(CPACK_VELTRIX_MSIBUILD ${VELTRIX_MSIBUILD})
  set(CPACK_VELTRIX_WXS ${CMAKE_SOURCE_DIR}/packaging/veltrix.wxs)
  set(CPACK_VELTRIX_ICON ${CMAKE_SOURCE_DIR}/src/resources/windows/veltrix.ico)
  set(CPACK_VELTRIX_SETUP_ACTIONS ${CMAKE_BINARY_DIR}/veltrix-setup-actions.dll)
else()
  # Files 644 and folders 755 whatever the builder's umask.
  set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(VELTRIX_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/veltrix)

  install(TARGETS veltrix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(TARGETS veltrix_store_program veltrix_agent_program veltrix_server_program RUNTIME DESTINATION ${VELTRIX_COMPANION_INSTALL_DIR})
  if(TARGET veltrix_desktop)
    install(TARGETS veltrix_desktop RUNTIME DESTINATION ${VELTRIX_COMPANION_INSTALL_DIR})
  endif()

  # Manual page and changelog compressed as Debian keeps them: gzip -9n, so
  # that the same sources give the same bytes.
  configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${VELTRIX_PACKAGING_OUT}/changelog @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/veltrix.1 ${VELTRIX_PACKAGING_OUT}/veltrix.1 @ONLY)
  set(VELTRIX_COMPRESSED)
  foreach(doc ${VELTRIX_PACKAGING_OUT}/veltrix.1 ${VELTRIX_PACKAGING_OUT}/changelog)
    get_filename_component(doc_name ${doc} NAME)
    add_custom_command(OUTPUT ${VELTRIX_PACKAGING_OUT}/${doc_name}.gz
      COMMAND sh -c "gzip -9n -c \"$0\" > \"$1\"" ${doc} ${VELTRIX_PACKAGING_OUT}/${doc_name}.gz
      DEPENDS ${doc} VERBATIM)
    list(APPEND VELTRIX_COMPRESSED ${VELTRIX_PACKAGING_OUT}/${doc_name}.gz)
  endforeach()
  add_custom_target(veltrix_package_docs ALL DEPENDS ${VELTRIX_COMPRESSED})

  install(FILES ${VELTRIX_PACKAGING_OUT}/veltrix.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${VELTRIX_PACKAGING_OUT}/changelog.gz ${CMAKE_SOURCE_DIR}/packaging/copyright
    DESTINATION ${VELTRIX_DOC_DIR})
  install(FILES ${CMAKE_SOURCE_DIR}/examples/office-desktop.json DESTINATION ${VELTRIX_DOC_DIR}/examples)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/veltrix.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
    RENAME veltrix)
  # The fleet server and the daily agent run as systemd units, installed
  # but not enabled; the server's settings are a conffile.
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/systemd/veltrix-server.service
    ${CMAKE_SOURCE_DIR}/packaging/systemd/veltrix-agent.service ${CMAKE_SOURCE_DIR}/packaging/systemd/veltrix-agent.timer
    DESTINATION /lib/systemd/system)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/server.conf DESTINATION /etc/veltrix)
  foreach(size 16 32 48 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/src/resources/linux/veltrix-${size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME veltrix.png)
  endforeach()

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Veltrix developers <veltrix@example.org>")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The libraries come from what the programs really link (dpkg-shlibdeps);
  # the vendor and device names from the system's id lists, read in place.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # adduser makes the server's system user.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "hwdata, adduser")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/maintainer-scripts/conffiles
    ${CMAKE_SOURCE_DIR}/packaging/maintainer-scripts/postinst ${CMAKE_SOURCE_DIR}/packaging/maintainer-scripts/prerm
    ${CMAKE_SOURCE_DIR}/packaging/maintainer-scripts/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # --open and the desktop windows show the report with xdg-open.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
  # The summary above is the first line; this is the rest.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Veltrix reads the computer it runs on - firmware, board, processors, memory
modules and slots, disks, adapters, video, devices with problems and the
installed software - and writes one self-contained HTML page that any
browser shows. Run without arguments it opens its desktop windows; with
--batch it runs the same scan for scripts. A scan can be saved as a JSON
snapshot and replayed on any computer. The package also holds the fleet
server (veltrix-server.service) and the agent that reports this computer to
it once a day (veltrix-agent.timer), both disabled until set up.")
endif()

include(CPack)

if(VELTRIX_TESTS AND NOT WIN32)
  add_test(NAME launcher COMMAND sh ${CMAKE_SOURCE_DIR}/tests/packaging/launcher_test.sh $<TARGET_FILE:veltrix>
    $<$<TARGET_EXISTS:veltrix_desktop>:$<TARGET_FILE:veltrix_desktop>>)
  add_test(NAME store_program COMMAND sh ${CMAKE_SOURCE_DIR}/tests/packaging/store_program_test.sh
    $<TARGET_FILE:veltrix> $<TARGET_FILE:veltrix_store_program> ${CMAKE_SOURCE_DIR}/examples/office-desktop.json)
  add_test(NAME server_program COMMAND sh ${CMAKE_SOURCE_DIR}/tests/packaging/server_program_test.sh
    $<TARGET_FILE:veltrix> $<TARGET_FILE:veltrix_server_program>)
  add_test(NAME manual_page COMMAND sh ${CMAKE_SOURCE_DIR}/tests/packaging/manual_page_test.sh
    $<TARGET_FILE:veltrix> ${CMAKE_SOURCE_DIR}/packaging/veltrix.1)
endif()
