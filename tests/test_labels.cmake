# Writes the CTest script that labels the tests, run after each build of the
# test program (see CMakeLists.txt).  The program lists its tests with the
# file that declares each; every test gets the name of that file's
# directory, and "asan" and "tsan" where the file or its directory is listed
# for them, unless the file is listed as unsanitized.
#
# Input: TEST_PROGRAM, TESTS_DIR, OUTPUT, and the lists ASAN, TSAN and
# UNSANITIZED (paths relative to TESTS_DIR, separated by commas), and
# EMULATOR, the command that runs a cross-built program (words separated by
# commas; empty for a native build).
cmake_minimum_required(VERSION 3.20)

foreach(list ASAN TSAN UNSANITIZED EMULATOR)
  string(REPLACE "," ";" ${list} "${${list}}")
endforeach()

set(listing "${OUTPUT}.json")
execute_process(COMMAND ${EMULATOR} "${TEST_PROGRAM}" --gtest_list_tests "--gtest_output=json:${listing}"
                OUTPUT_QUIET RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${TEST_PROGRAM} could not list its tests (${result})")
endif()
file(READ "${listing}" json)

set(script "")
string(JSON suites LENGTH "${json}" testsuites)
math(EXPR lastSuite "${suites} - 1")
foreach(i RANGE ${lastSuite})
  string(JSON suite GET "${json}" testsuites ${i})
  string(JSON suiteName GET "${suite}" name)
  string(JSON tests LENGTH "${suite}" testsuite)
  math(EXPR lastTest "${tests} - 1")
  foreach(j RANGE ${lastTest})
    string(JSON test GET "${suite}" testsuite ${j})
    string(JSON testName GET "${test}" name)
    string(JSON file GET "${test}" file)
    file(RELATIVE_PATH relative "${TESTS_DIR}" "${file}")
    string(REGEX REPLACE "/.*" "" directory "${relative}")
    set(labels ${directory})
    if(NOT relative IN_LIST UNSANITIZED)
      if(directory IN_LIST ASAN OR relative IN_LIST ASAN)
        list(APPEND labels asan)
      endif()
      if(directory IN_LIST TSAN OR relative IN_LIST TSAN)
        list(APPEND labels tsan)
      endif()
    endif()
    string(APPEND script "set_tests_properties([==[${suiteName}.${testName}]==] PROPERTIES LABELS \"${labels}\")\n")
  endforeach()
endforeach()
file(WRITE "${OUTPUT}" "${script}")
