# Small wrappers so that every subsystem declares its library, tests, helper
# programs and fuzzers the same way.

# kestrova_library(NAME [SOURCES ...] [DEPS ...]) -> static library kestrova_NAME.
# Without SOURCES it takes every .cpp of the folder, so adding a unit needs no
# edit here.
function(kestrova_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_SOURCES)
    file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  add_library(kestrova_${name} STATIC ${ARG_SOURCES})
  target_include_directories(kestrova_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(kestrova_${name} PUBLIC kestrova_options ${ARG_DEPS})
endfunction()

# kestrova_test(NAME SOURCES ... [DEPS ...] [LABELS ...])
# Labels: "core" tests run again under ASan+UBSan, "process" under TSan.
function(kestrova_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE kestrova_options kestrova_testsupport kestrova_fakes ${ARG_DEPS} GTest::gmock_main)
  add_dependencies(${name} fake_tool)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "KESTROVA_FAKE_TOOL=$<TARGET_FILE:fake_tool>;KESTROVA_BUILD_DIR=${PROJECT_BINARY_DIR};KESTROVA_SOURCE_DIR=${PROJECT_SOURCE_DIR};KESTROVA_THIRD_PARTY_PREFIX=${KESTROVA_THIRD_PARTY_PREFIX}")
endfunction()

# kestrova_helper(NAME SOURCES ... [DEPS ...]) -> a program shipped in the tools folder
function(kestrova_helper name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KESTROVA_TOOLS_OUTPUT_DIR})
  target_link_libraries(${name} PRIVATE kestrova_options ${ARG_DEPS})
  install(TARGETS ${name} RUNTIME DESTINATION ${KESTROVA_TOOLS_INSTALL_DIR})
endfunction()

# kestrova_fuzzer(NAME SOURCES ... [DEPS ...]) -> libFuzzer target, only with KESTROVA_FUZZ
function(kestrova_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT KESTROVA_FUZZ)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fuzz)
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE kestrova_options ${ARG_DEPS})
endfunction()

# Adds every immediate sub-folder of the current folder that has a CMakeLists.txt,
# so subsystems are picked up without editing a shared list.
function(kestrova_add_subdirectories)
  file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
