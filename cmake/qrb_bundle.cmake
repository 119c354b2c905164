# Bundles of the desktop programs: a folder holding Info.plist, Resources/ and the compiled
# message catalogs locale/LANG/LC_MESSAGES/DOMAIN.mo.
#
# A desktop library folder gives every host bundle its files with
#   qrb_bundle_files(FOLDER)
# which takes FOLDER/Resources/* as resources and FOLDER/locale/LANG/DOMAIN.po as the catalog
# of text domain DOMAIN in language LANG (one source file per domain and language: add your
# entries to it, or add a file for a domain of your own).
#
# A program becomes a host with
#   qrb_bundle(TARGET INFO_PLIST file [RESOURCES files...] [CATALOGS files...] [INSTALL])
# Its executable is built into a folder of its own, which is its bundle in the build tree; with
# INSTALL the program goes to bin/ and its bundle to share/TARGET/, where the program finds it.
# The bundle holds the library's files (those of qrb_bundle_files calls made before) and its
# own. Catalogs are compiled with msgfmt.

find_program(QRB_MSGFMT msgfmt REQUIRED)

function(qrb_bundle_files folder)
  file(GLOB resources CONFIGURE_DEPENDS ${folder}/Resources/*)
  file(GLOB catalogs CONFIGURE_DEPENDS ${folder}/locale/*/*.po)
  set_property(GLOBAL APPEND PROPERTY QRB_BUNDLE_RESOURCES ${resources})
  set_property(GLOBAL APPEND PROPERTY QRB_BUNDLE_CATALOGS ${catalogs})
endfunction()

function(qrb_bundle target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "INSTALL" "INFO_PLIST" "RESOURCES;CATALOGS")
  get_property(resources GLOBAL PROPERTY QRB_BUNDLE_RESOURCES)
  get_property(catalogs GLOBAL PROPERTY QRB_BUNDLE_CATALOGS)
  list(APPEND resources ${arg_RESOURCES})
  list(APPEND catalogs ${arg_CATALOGS})
  set(folder ${CMAKE_CURRENT_BINARY_DIR}/${target})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${folder})
  set(share ${CMAKE_INSTALL_DATADIR}/${target})
  set(outputs)

  if(arg_INFO_PLIST)
    get_filename_component(info ${arg_INFO_PLIST} ABSOLUTE)
    add_custom_command(OUTPUT ${folder}/Info.plist
                       COMMAND ${CMAKE_COMMAND} -E copy_if_different ${info} ${folder}/Info.plist
                       DEPENDS ${info} VERBATIM)
    list(APPEND outputs ${folder}/Info.plist)
    if(arg_INSTALL)
      install(FILES ${info} DESTINATION ${share})
    endif()
  endif()

  foreach(resource ${resources})
    get_filename_component(resource ${resource} ABSOLUTE)
    get_filename_component(name ${resource} NAME)
    add_custom_command(OUTPUT ${folder}/Resources/${name}
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}/Resources
                       COMMAND ${CMAKE_COMMAND} -E copy_if_different ${resource}
                               ${folder}/Resources/${name}
                       DEPENDS ${resource} VERBATIM)
    list(APPEND outputs ${folder}/Resources/${name})
    if(arg_INSTALL)
      install(FILES ${resource} DESTINATION ${share}/Resources)
    endif()
  endforeach()

  foreach(catalog ${catalogs})
    get_filename_component(catalog ${catalog} ABSOLUTE)
    get_filename_component(domain ${catalog} NAME_WE)
    get_filename_component(language ${catalog} DIRECTORY)
    get_filename_component(language ${language} NAME)
    set(mo ${folder}/locale/${language}/LC_MESSAGES/${domain}.mo)
    add_custom_command(OUTPUT ${mo}
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}/locale/${language}/LC_MESSAGES
                       COMMAND ${QRB_MSGFMT} --check-format -o ${mo} ${catalog}
                       DEPENDS ${catalog} VERBATIM)
    list(APPEND outputs ${mo})
    if(arg_INSTALL)
      install(FILES ${mo} DESTINATION ${share}/locale/${language}/LC_MESSAGES)
    endif()
  endforeach()

  add_custom_target(${target}_bundle DEPENDS ${outputs})
  add_dependencies(${target} ${target}_bundle)
  if(arg_INSTALL)
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endfunction()
