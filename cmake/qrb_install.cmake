# Development files for the developers of a controlling application (install component
# "development"): the static libraries of platform/ and utility/, the desktop ones included,
# under LIBDIR/qrb; their headers under INCLUDEDIR/qrb (included as "utility/...",
# "platform/..."); the desktop library's resources and catalog sources under
# DATADIR/qrb-desktop/FOLDER/ in the layout qrb_bundle_files reads, with qrb_bundle.cmake
# itself; and the pkg-config file qrb-desktop.pc. Included last, once every library is known.

# In link order: each library before those it uses.
set(qrb_libraries utility_desktop utility_array utility_shell_command utility_string
    utility_network platform_desktop platform_plist platform_process platform_files
    platform_net platform_text)
set(qrb_link_flags)
foreach(library ${qrb_libraries})
  # A library renamed or added without this list following would leave the package unusable.
  if(NOT TARGET ${library})
    message(FATAL_ERROR "qrb_install.cmake lists ${library}, which is no library of the tree")
  endif()
  install(TARGETS ${library} ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}/qrb
          COMPONENT development)
  string(APPEND qrb_link_flags " -l${library}")
endforeach()

file(GLOB_RECURSE qrb_headers RELATIVE ${PROJECT_SOURCE_DIR} CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/platform/*.h ${PROJECT_SOURCE_DIR}/utility/*.h)
foreach(header ${qrb_headers})
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qrb/${folder}
          COMPONENT development)
endforeach()

get_property(qrb_resources GLOBAL PROPERTY QRB_BUNDLE_RESOURCES)
get_property(qrb_catalogs GLOBAL PROPERTY QRB_BUNDLE_CATALOGS)
foreach(file ${qrb_resources} ${qrb_catalogs})
  file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${file})
  get_filename_component(folder ${relative} DIRECTORY)
  install(FILES ${file} DESTINATION ${CMAKE_INSTALL_DATADIR}/qrb-desktop/${folder}
          COMPONENT development)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/cmake/qrb_bundle.cmake
        DESTINATION ${CMAKE_INSTALL_DATADIR}/qrb-desktop/cmake COMPONENT development)

configure_file(${PROJECT_SOURCE_DIR}/cmake/qrb-desktop.pc.in
               ${PROJECT_BINARY_DIR}/qrb-desktop.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qrb-desktop.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
