if(TARGET pgxvisa)
  find_package(Threads REQUIRED)
  pgx_add_bench(NAME bench_visa SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_visa.cpp LIBS pgxvisa Threads::Threads)
  if(TARGET bench_visa AND TARGET pgxsim)
    # The loopback benchmarks run the simulator as a separate process, as a LAN instrument would be.
    target_compile_definitions(bench_visa PRIVATE PGXSIM_PATH="$<TARGET_FILE:pgxsim>")
    add_dependencies(bench_visa pgxsim)
  endif()
endif()
