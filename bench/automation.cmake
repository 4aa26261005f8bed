if(TARGET pgxauto)
  pgx_add_bench(NAME bench_automation SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_automation.cpp LIBS pgxauto)
endif()
