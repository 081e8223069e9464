# Installs the build in BUILD_DIR under PREFIX and checks that the tree holds a simulator that
# runs and the bundled example.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
execute_process(COMMAND "${PREFIX}/bin/nbsim" --version RESULT_VARIABLE status
                OUTPUT_VARIABLE version)
if(NOT status EQUAL 0 OR NOT version MATCHES "^nbsim [0-9]+\\.[0-9]+\\.[0-9]+\n$")
  message(FATAL_ERROR "the installed nbsim --version gave ${status}: '${version}'")
endif()
foreach(file param.txt encoder.txt)
  if(NOT EXISTS "${PREFIX}/share/doc/nbsim/examples/default/${file}")
    message(FATAL_ERROR "the installed example lacks ${file}")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
