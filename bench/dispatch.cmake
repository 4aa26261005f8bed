# The generic dispatcher against a direct call through the interface, on the test server module.
if(TARGET pgxauto AND TARGET pgx_testsrv)
  pgx_add_bench(NAME bench_dispatch SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_dispatch.cpp LIBS pgxauto ${CMAKE_DL_LIBS})
  if(TARGET bench_dispatch)
    target_include_directories(bench_dispatch PRIVATE ${PROJECT_BINARY_DIR}/generated)
    target_compile_definitions(bench_dispatch PRIVATE PGX_TESTSRV_MODULE="$<TARGET_FILE:pgx_testsrv>")
    add_dependencies(bench_dispatch pgx_testsrv)
  endif()
endif()
