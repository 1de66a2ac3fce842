# What `cmake --install` puts in place for hosts: libwinsteps.so with its soname links, the
# headers a host needs to derive states and actions and to use the factory, and the CMake
# package (winstepsConfig.cmake, winstepsConfigVersion.cmake, winstepsTargets.cmake) so that
# a host writes find_package(winsteps) and links winsteps::winsteps.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The installed headers, relative to src/, in one list. Every header here may include only
# headers of this list (plus Qt and the standard library); the test winsteps_installed_headers
# checks that, so a host never meets an include it cannot resolve.
set(WINSTEPS_PUBLIC_HEADERS
  winsteps_export.h
  debug/debugoutput.h
  framework/cdomnode.h
  framework/cobject.h
  framework/cproperty.h
  framework/cpropertymap.h
  framework/cpropertyobject.h
  framework/cstate.h
  framework/cstatefactory.h
  framework/ctag.h
  framework/ctransition.h
  framework/eventnames.h
  framework/istatemachine.h
  expression/cexpression.h
  expression/cfunctionregistry.h
  expression/cxpathnode.h
  expression/valueconversion.h
  actions/caction.h
  actions/cactionstate.h
  actions/cthreadedaction.h
)
set(winsteps_include_dir ${CMAKE_INSTALL_INCLUDEDIR}/winsteps)
foreach(header IN LISTS WINSTEPS_PUBLIC_HEADERS)
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/src/${header} DESTINATION ${winsteps_include_dir}/${folder})
endforeach()

set(winsteps_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/winsteps)
install(TARGETS winsteps EXPORT winstepsTargets
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
            -P ${CMAKE_CURRENT_LIST_DIR}/checkheaders.cmake)
endif()
