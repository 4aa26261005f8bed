# bench_sim: the simulated instruments in process and over loopback TCP (pgxsim's server).
if(TARGET pgxsim_server)
  pgx_add_bench(NAME bench_sim SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_sim.cpp LIBS pgxsim_server)
endif()
