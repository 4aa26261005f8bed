# Remote activation: calls through the IDispatch proxy to a host on loopback, against a bare TCP round trip
# of the same size and against the same calls in process.
if(TARGET pgxremote AND TARGET pgx_testsrv)
  pgx_add_bench(NAME bench_remote SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_remote.cpp LIBS pgxremote)
  if(TARGET bench_remote)
    target_include_directories(bench_remote PRIVATE ${PROJECT_BINARY_DIR}/generated)
    target_compile_definitions(bench_remote PRIVATE PGX_TEST_REGISTRY="${PGX_TEST_REGISTRY}")
    add_dependencies(bench_remote pgx_testsrv_registration)
  endif()
endif()
