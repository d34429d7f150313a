# Read by cpack (CPACK_PROJECT_CONFIG_FILE) before it writes a package.
# For the Debian package it refuses a processor that has no Debian name,
# and for a cross-build computes the Depends line that CPack's own
# dpkg-shlibdeps call cannot: the cross libraries (/usr/aarch64-linux-gnu/lib)
# belong to Debian's cross packages, whose shlibs files name the target's
# packages as "libc6:arm64 (>= 2.36)" or their own as "libgcc-s1-arm64-cross";
# both become the plain names of the target system ("libc6 (>= 2.36)").
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
if(NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
  message(FATAL_ERROR "No Debian architecture is known for the processor ${CPACK_ORVANE_PROCESSOR}: "
                      "configure with -DCPACK_DEBIAN_PACKAGE_ARCHITECTURE=<name> to package it")
endif()
if(NOT CPACK_ORVANE_CROSS_LIBS)
  return()
endif()

find_program(ORVANE_SHLIBDEPS dpkg-shlibdeps)
if(NOT ORVANE_SHLIBDEPS)
  message(FATAL_ERROR "dpkg-shlibdeps (Debian: dpkg-dev) is needed for the Depends line of the package")
endif()
# dpkg-shlibdeps wants to run in a source tree: an empty debian/control is enough.
set(scratch ${CPACK_OUTPUT_FILE_PREFIX}/_CPack_Packages/cross-shlibdeps)
file(REMOVE_RECURSE ${scratch})
file(WRITE ${scratch}/debian/control "")
execute_process(COMMAND ${ORVANE_SHLIBDEPS} -O -l${CPACK_ORVANE_CROSS_LIBS} ${CPACK_ORVANE_ENGINE}
                WORKING_DIRECTORY ${scratch} RESULT_VARIABLE status OUTPUT_VARIABLE found ERROR_VARIABLE errors)
if(NOT status EQUAL 0 OR NOT found MATCHES "shlibs:Depends=([^\n]+)")
  message(FATAL_ERROR "dpkg-shlibdeps found no Depends line for ${CPACK_ORVANE_ENGINE}: ${errors}")
endif()
set(depends "")
string(REPLACE ", " ";" found_list "${CMAKE_MATCH_1}")
foreach(dependency ${found_list})
  string(REPLACE "-${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}-cross" "" dependency "${dependency}")
  string(REPLACE ":${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}" "" dependency "${dependency}")
  # The cross libstdc++ gives no minimum version; a program built by g++ N
  # may need the symbols of libstdc++ N.
  if(dependency STREQUAL "libstdc++6")
    set(dependency "libstdc++6 (>= ${CPACK_ORVANE_COMPILER_MAJOR})")
  endif()
  list(APPEND depends "${dependency}")
endforeach()
list(JOIN depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
message(STATUS "Depends of the ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE} package: ${CPACK_DEBIAN_PACKAGE_DEPENDS}")
