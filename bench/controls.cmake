# The panel's controls: painting the pattern editor's waveforms, its edit operations over a whole pattern,
# and EngrSpin's value-to-text and text-to-value.
if(TARGET PgxFrontVI)
  pgx_add_bench(NAME bench_controls SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_controls.cpp
                LIBS PgxFrontVI pgxfrontvi_testing)
endif()
