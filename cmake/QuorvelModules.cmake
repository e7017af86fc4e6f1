# quorvel_module(name [DIR folder | DIRS folders...] DEPS ...): a static library of every .cpp in
# src/<folder> (not its subfolders). A module with no sources yet is an interface library.
function(quorvel_module name)
  cmake_parse_arguments(M "" "DIR" "DIRS;DEPS" ${ARGN})
  if(NOT M_DIRS)
    if(M_DIR)
      set(M_DIRS ${M_DIR})
    else()
      set(M_DIRS ${name})
    endif()
  endif()
  set(sources)
  foreach(dir ${M_DIRS})
    file(GLOB found CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${dir}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  # Recorded for the module graph check (quorvel_check_module_graph).
  set(deps)
  foreach(dep ${M_DEPS})
    if(dep MATCHES "^quorvel_(.+)$")
      list(APPEND deps ${CMAKE_MATCH_1})
    endif()
  endforeach()
  string(REPLACE ";" "," dirs_joined "${M_DIRS}")
  string(REPLACE ";" "," deps_joined "${deps}")
  set_property(GLOBAL APPEND PROPERTY QUORVEL_MODULE_GRAPH "${name}|${dirs_joined}|${deps_joined}")
  if(sources)
    add_library(quorvel_${name} STATIC ${sources})
    target_include_directories(quorvel_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(quorvel_${name} PUBLIC ${M_DEPS})
  else()
    add_library(quorvel_${name} INTERFACE)
    target_include_directories(quorvel_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(quorvel_${name} INTERFACE ${M_DEPS})
  endif()
endfunction()

# quorvel_tests(folder DEPS ...): one GoogleTest binary of every .cpp in tests/<folder>.
function(quorvel_tests folder)
  cmake_parse_arguments(T "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(test_${folder} ${sources})
  target_include_directories(test_${folder} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(test_${folder} PRIVATE ${T_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(test_${folder} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS ${folder})
endfunction()

# Every bench/*.cpp is a Google Benchmark binary, linked against all core modules.
function(quorvel_benchmarks)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bench/*.cpp)
  foreach(src ${sources})
    get_filename_component(stem ${src} NAME_WE)
    add_executable(bench_${stem} ${src})
    target_include_directories(bench_${stem} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(bench_${stem} PRIVATE quorvel_scene quorvel_windows quorvel_tabs quorvel_tabs_qt quorvel_settings
                          quorvel_actions quorvel_platform_sim benchmark::benchmark)
  endforeach()
endfunction()

# quorvel_check_module_graph(): the libraries must form a graph without cycles, and each library
# links exactly what it includes: every header it includes belongs to itself or to a library it
# links (directly or through another), and every library it names directly is one it includes.
# The check runs at configure time and again on every build (target module_graph), so an include
# that would close a cycle fails the build.
function(quorvel_check_module_graph)
  get_property(graph GLOBAL PROPERTY QUORVEL_MODULE_GRAPH)
  set(graph_file ${CMAKE_BINARY_DIR}/module_graph.txt)
  string(REPLACE ";" "\n" lines "${graph}")
  file(WRITE ${graph_file} "${lines}\n")
  set(script ${PROJECT_SOURCE_DIR}/cmake/CheckModuleGraph.cmake)
  execute_process(COMMAND ${CMAKE_COMMAND} -DGRAPH=${graph_file} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -P ${script}
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "The library graph is not one-way (see above).")
  endif()
  add_custom_target(module_graph ALL
                    COMMAND ${CMAKE_COMMAND} -DGRAPH=${graph_file} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -P ${script}
                    COMMENT "Checking that the libraries include one way" VERBATIM)
endfunction()
