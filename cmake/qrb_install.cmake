# Development files for the developers of a controlling application (install component
# "development"): the static libraries of platform/ and utility/, the desktop ones included,
# under LIBDIR/qrb; their headers under INCLUDEDIR/qrb (included as "utility/...",
# "platform/..."); the desktop libraries' resources and catalog sources under
# DATADIR/qrb-desktop/FOLDER/ in the layout qrb_bundle_files reads, with qrb_bundle.cmake
# itself; and the pkg-config files, for the prefix given at install time: qrb-apps (the
# application services and everything below them, no Qt), qrb-widgets (the libraries that use
# platform_widgets, over qrb-apps and Qt 6 Widgets) and qrb-desktop (all of them).
# Included last, once every library is known.

# The installed libraries are every static library defined under platform/ and utility/ (a
# library only the tests use belongs in tests/), found from the build system itself so that a
# library added, renamed or split is installed and linked without a list to follow it.
function(qrb_static_libraries_under folder)
  get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "STATIC_LIBRARY")
      set_property(GLOBAL APPEND PROPERTY QRB_INSTALLED_LIBRARIES ${target})
    endif()
  endforeach()
  get_property(folders DIRECTORY ${folder} PROPERTY SUBDIRECTORIES)
  foreach(subfolder ${folders})
    qrb_static_libraries_under(${subfolder})
  endforeach()
endfunction()

# Our libraries that `target` links directly, looking through our interface libraries
# (`utility` is four static ones).
function(qrb_linked_libraries target out)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    get_target_property(links ${target} INTERFACE_LINK_LIBRARIES)
  else()
    get_target_property(links ${target} LINK_LIBRARIES)
  endif()
  get_property(ours GLOBAL PROPERTY QRB_INSTALLED_LIBRARIES)
  set(found)
  foreach(link ${links})
    if(link IN_LIST ours)
      list(APPEND found ${link})
    elseif(TARGET ${link})
      get_target_property(imported ${link} IMPORTED)
      get_target_property(link_type ${link} TYPE)
      if(NOT imported AND link_type STREQUAL "INTERFACE_LIBRARY")
        qrb_linked_libraries(${link} through)
        list(APPEND found ${through})
      endif()
    endif()
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# Depth first: a library is placed once every library it uses is, so that the list reversed
# has each library before those it uses (the order a static link needs).
function(qrb_place_library library)
  get_property(placed GLOBAL PROPERTY QRB_PLACED_LIBRARIES)
  get_property(visiting GLOBAL PROPERTY QRB_VISITING_LIBRARIES)
  if(library IN_LIST placed)
    return()
  endif()
  if(library IN_LIST visiting)
    message(FATAL_ERROR "the libraries ${visiting} use one another in a circle")
  endif()
  set_property(GLOBAL APPEND PROPERTY QRB_VISITING_LIBRARIES ${library})
  qrb_linked_libraries(${library} uses)
  foreach(used ${uses})
    qrb_place_library(${used})
  endforeach()
  set_property(GLOBAL APPEND PROPERTY QRB_PLACED_LIBRARIES ${library})
endfunction()

qrb_static_libraries_under(${PROJECT_SOURCE_DIR}/platform)
qrb_static_libraries_under(${PROJECT_SOURCE_DIR}/utility)
get_property(qrb_found GLOBAL PROPERTY QRB_INSTALLED_LIBRARIES)
if(NOT qrb_found)
  message(FATAL_ERROR "no static library found under platform/ and utility/ to install")
endif()
foreach(library ${qrb_found})
  qrb_place_library(${library})
endforeach()
get_property(qrb_libraries GLOBAL PROPERTY QRB_PLACED_LIBRARIES)
list(REVERSE qrb_libraries)

# True in `out` when `library` is `wanted` or uses it, directly or through others of ours.
function(qrb_library_uses library wanted out)
  if(library STREQUAL wanted)
    set(${out} TRUE PARENT_SCOPE)
    return()
  endif()
  qrb_linked_libraries(${library} uses)
  foreach(used ${uses})
    qrb_library_uses(${used} ${wanted} found)
    if(found)
      set(${out} TRUE PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} FALSE PARENT_SCOPE)
endfunction()

# The libraries that use platform_widgets go to qrb-widgets.pc, the others to qrb-apps.pc, each
# list in link order; a library's linker options ("LINKER:" ones, such as the symbol
# platform_widgets has the linker keep) go before the libraries of its file.
set(qrb_apps_link_flags)
set(qrb_widgets_link_flags)
set(qrb_widgets_link_options)
foreach(library ${qrb_libraries})
  install(TARGETS ${library} ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}/qrb
          COMPONENT development)
  qrb_library_uses(${library} platform_widgets widget)
  get_target_property(options ${library} INTERFACE_LINK_OPTIONS)
  set(flags)
  foreach(option ${options})
    if(option MATCHES "^LINKER:(.*)$")
      string(APPEND flags " -Wl,${CMAKE_MATCH_1}")
    elseif(option)
      message(FATAL_ERROR "${library}: the link option ${option} has no pkg-config form")
    endif()
  endforeach()
  if(widget)
    string(APPEND qrb_widgets_link_flags " -l${library}")
    string(APPEND qrb_widgets_link_options "${flags}")
  else()
    if(flags)
      message(FATAL_ERROR "${library}: only the widget libraries may carry link options")
    endif()
    string(APPEND qrb_apps_link_flags " -l${library}")
  endif()
endforeach()
string(PREPEND qrb_widgets_link_flags "${qrb_widgets_link_options}")

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

# The pkg-config files name the prefix the files are installed under, which `cmake --install
# --prefix` may change after configuring: they are completed at install time.
# Folders given as absolute paths stay as they are.
foreach(kind LIBDIR INCLUDEDIR DATADIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(qrb_pc_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(qrb_pc_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
set(QRB_INSTALL_PREFIX "@QRB_INSTALL_PREFIX@")  # kept for the install-time step
foreach(pc qrb-apps qrb-widgets qrb-desktop)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc.in @ONLY)
  install(CODE "
    get_filename_component(QRB_INSTALL_PREFIX \"\${CMAKE_INSTALL_PREFIX}\" ABSOLUTE)
    configure_file(\"${PROJECT_BINARY_DIR}/${pc}.pc.in\"
                   \"${PROJECT_BINARY_DIR}/${pc}.pc\" @ONLY)"
    COMPONENT development)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endforeach()
