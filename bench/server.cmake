# The server's own cost over the driver: members through the whole stack (late-bound and through the generated
# client wrappers) against the same driver calls made directly, on the in-process simulated bench.
if(TARGET pgxsrv AND TARGET pgxgen)
  pgx_add_bench(NAME bench_server SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_server.cpp
                LIBS pgxsrv_typelib pgxauto pgxgen pgxvisa ${CMAKE_DL_LIBS})
  if(TARGET bench_server)
    target_include_directories(bench_server PRIVATE ${PROJECT_BINARY_DIR}/generated)
    target_compile_definitions(bench_server PRIVATE PGXSRV_MODULE="$<TARGET_FILE:pgxsrv>")
    add_dependencies(bench_server pgxsrv)
  endif()
endif()
