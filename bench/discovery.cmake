# Discovery and start-up through the registry and the server module, and pgx as a whole process.
if(TARGET pgxauto AND TARGET pgxsrv AND TARGET pgx)
  pgx_add_bench(NAME bench_discovery SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_discovery.cpp LIBS pgxauto)
  if(TARGET bench_discovery)
    target_compile_definitions(bench_discovery PRIVATE PGX_PATH="$<TARGET_FILE:pgx>"
                                                       PGX_BENCH_REGISTRY="${PGX_TEST_REGISTRY}")
    add_dependencies(bench_discovery pgx pgxsrv_registration)
  endif()
endif()
