# pgx_idl(TARGET <target> IDL <file.idl>)
#
# Runs the IDL generator at build time on <file.idl> (relative to the calling folder) and adds the generated
# table source to <target>. The generated headers are included by the IDL's path from the repository root:
#   <folder>/<stem>_idl.h     what the server implements, e.g. #include "server/pgxsrv_idl.h"
#   <folder>/<stem>_client.h  the client wrappers (namespace <Library> { class IFooPtr }), for clients only
# Both live under the build tree's generated/ folder, which <target> puts on the include path of its users.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
# Cache variables, not the imported target: pgx_idl() is called from other folders (server/, panel/), where
# the directory-scoped target Python3::Interpreter is not visible.
set(PGX_PYTHON ${Python3_EXECUTABLE} CACHE INTERNAL "")
set(PGX_IDL_GENERATOR ${CMAKE_CURRENT_LIST_DIR}/pgxidl.py CACHE INTERNAL "")
# Every module of the generator: generated files are made again when any of them changes.
set(_pgx_idl_modules pgxidl idl_lexer idl_parsed idl_parser idl_checked idl_checker idl_cpp emit_header emit_tables
                     emit_client)
list(TRANSFORM _pgx_idl_modules PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
list(TRANSFORM _pgx_idl_modules APPEND .py)
set(PGX_IDL_GENERATOR_FILES ${_pgx_idl_modules} CACHE INTERNAL "")

function(pgx_idl)
  cmake_parse_arguments(I "" "TARGET;IDL" "" ${ARGN})
  get_filename_component(_idl ${I_IDL} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  get_filename_component(_stem ${_idl} NAME_WE)
  get_filename_component(_idl_dir ${_idl} DIRECTORY)
  file(RELATIVE_PATH _rel ${PROJECT_SOURCE_DIR} ${_idl_dir})
  set(_out_dir ${PROJECT_BINARY_DIR}/generated/${_rel})
  set(_header ${_out_dir}/${_stem}_idl.h)
  set(_source ${_out_dir}/${_stem}_idl.cpp)
  set(_client ${_out_dir}/${_stem}_client.h)
  file(MAKE_DIRECTORY ${_out_dir})
  add_custom_command(
    OUTPUT ${_header} ${_source} ${_client}
    COMMAND ${PGX_PYTHON} ${PGX_IDL_GENERATOR} ${_idl} --header ${_header} --source ${_source}
            --client ${_client} --include ${_rel}/${_stem}_idl.h
    DEPENDS ${_idl} ${PGX_IDL_GENERATOR_FILES}
    COMMENT "Generating C++ from ${_stem}.idl"
    VERBATIM)
  target_sources(${I_TARGET} PRIVATE ${_source} ${_header} ${_client})
  target_include_directories(${I_TARGET} PUBLIC ${PROJECT_BINARY_DIR}/generated)
endfunction()
