# What `cmake --install` puts in place for hosts: libwinsteps.so with its soname links, the
# headers a host needs to derive states and actions and to use the factory, and the CMake
# package (winstepsConfig.cmake, winstepsConfigVersion.cmake, winstepsTargets.cmake) so that
# a host writes find_package(winsteps) and links winsteps::winsteps.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The installed headers, relative to src/, in one list, and the generated export header.
# Every header here may include only headers of this list (plus Qt and the standard library);
# the test winsteps_installed_headers checks that, so a host never meets an include it cannot
# resolve.
set(WINSTEPS_PUBLIC_HEADERS
  debug/debugoutput.h
  objects/cdomnode.h
  objects/cobject.h
  objects/cpropertyobject.h
  objects/ctag.h
  objects/valueconversion.h
  expression/cexpression.h
  expression/cfunctionregistry.h
  expression/cproperty.h
  expression/cpropertymap.h
  expression/cxpathnode.h
  expression/itranslator.h
  fsm/cstate.h
  fsm/cstatefactory.h
  fsm/ctransition.h
  fsm/eventnames.h
  fsm/istatemachine.h
  actions/caction.h
  actions/cactionstate.h
  actions/cthreadedaction.h
)
set(WINSTEPS_GENERATED_HEADERS winsteps_export.h)
set(winsteps_include_dir ${CMAKE_INSTALL_INCLUDEDIR}/winsteps)
foreach(header IN LISTS WINSTEPS_PUBLIC_HEADERS)
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/src/${header} DESTINATION ${winsteps_include_dir}/${folder})
endforeach()
foreach(header IN LISTS WINSTEPS_GENERATED_HEADERS)
  install(FILES ${WINSTEPS_GENERATED_INCLUDE_DIR}/${header} DESTINATION ${winsteps_include_dir})
endforeach()

set(winsteps_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/winsteps)
# libwinsteps.so finds the platform library beside it ($ORIGIN); hosts may link it as
# winsteps::platform.
set_target_properties(winsteps_platform PROPERTIES EXPORT_NAME platform)
install(TARGETS winsteps winsteps_platform EXPORT winstepsTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${winsteps_include_dir})
install(EXPORT winstepsTargets NAMESPACE winsteps:: DESTINATION ${winsteps_package_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/winstepsConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/winstepsConfig.cmake
  INSTALL_DESTINATION ${winsteps_package_dir})
# 0.x releases make no promise between minor versions.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/winstepsConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/winstepsConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/winstepsConfigVersion.cmake
  DESTINATION ${winsteps_package_dir})

if(BUILD_TESTING)
  add_test(NAME winsteps_installed_headers
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}/src "-DHEADERS=${WINSTEPS_PUBLIC_HEADERS}"
            "-DGENERATED=${WINSTEPS_GENERATED_HEADERS}"
            -P ${CMAKE_CURRENT_LIST_DIR}/checkheaders.cmake)
endif()
