if(TARGET pgxgen)
  pgx_add_bench(NAME bench_driver SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_driver.cpp LIBS pgxgen pgxvisa)
endif()
