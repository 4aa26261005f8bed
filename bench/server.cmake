# The automation server: the whole stack against the driver called directly (bench_server), and the server's
# own cost per member against the recording driver, where the instrument costs nothing (bench_server_overhead).
if(TARGET pgxsrv)
  # The server's Bits conversions are measured on their own too: they are compiled in from server/pattern.
  pgx_add_bench(NAME bench_server SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_server.cpp
                ${PROJECT_SOURCE_DIR}/server/pattern/pattern_bits.cpp
                LIBS pgxauto pgxgen pgxvisa pgxsrv_typelib ${CMAKE_DL_LIBS})
  if(TARGET bench_server)
    target_compile_definitions(bench_server PRIVATE PGXSRV_MODULE="$<TARGET_FILE:pgxsrv>")
    add_dependencies(bench_server pgxsrv)
  endif()
  pgx_add_bench(NAME bench_server_overhead SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_server_overhead.cpp
                LIBS pgxsrv_testing)
endif()
