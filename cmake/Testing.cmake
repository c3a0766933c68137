# Helpers for declaring GoogleTest executables the same way in every folder.
include_guard(GLOBAL)

# qltmsi_add_gtest(NAME name SOURCES ... [LIBS ...] [LABELS ...])
# Builds one GoogleTest executable and registers it as one CTest test.
function(qltmsi_add_gtest)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} qltmsi_gtest_main)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# qltmsi_add_child_directories(): adds every immediate subfolder that has a
# CMakeLists.txt, so that a new area needs no edit of its parent.
macro(qltmsi_add_child_directories)
  file(GLOB _qltmsi_children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _qltmsi_children)
  foreach(_qltmsi_child IN LISTS _qltmsi_children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${_qltmsi_child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_qltmsi_child}/CMakeLists.txt)
      add_subdirectory(${_qltmsi_child})
    endif()
  endforeach()
endmacro()

# qltmsi_add_wine_probe(TEST test DEFINE macro SOURCE file.c [LIBS ...])
# A small Windows program, built with mingw when it is present, that the
# GoogleTest `test` runs under Wine to hold winsys's answers against Wine's.
# The test gets the probe's path as the macro (empty without mingw, when the
# test skips its Wine half).
function(qltmsi_add_wine_probe)
  cmake_parse_arguments(P "" "TEST;DEFINE;SOURCE" "LIBS" ${ARGN})
  find_program(QLTMSI_MINGW32_CC i686-w64-mingw32-gcc)
  set(probe "")
  if(QLTMSI_MINGW32_CC)
    get_filename_component(name ${P_SOURCE} NAME_WE)
    set(probe ${CMAKE_CURRENT_BINARY_DIR}/${name}.exe)
    list(TRANSFORM P_LIBS PREPEND -l OUTPUT_VARIABLE libs)
    add_custom_command(OUTPUT ${probe}
      COMMAND ${QLTMSI_MINGW32_CC} -O1 -static -o ${probe} ${CMAKE_CURRENT_SOURCE_DIR}/${P_SOURCE} ${libs}
      DEPENDS ${P_SOURCE}
      COMMENT "Building the Wine probe ${name}")
    add_custom_target(${P_TEST}_probe DEPENDS ${probe})
    add_dependencies(${P_TEST} ${P_TEST}_probe)
  endif()
  target_compile_definitions(${P_TEST} PRIVATE ${P_DEFINE}="${probe}")
endfunction()
