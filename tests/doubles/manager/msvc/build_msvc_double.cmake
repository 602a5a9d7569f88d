# Builds kv_manager_double_msvc.dll with the platform compiler's ABI: clang in MSVC mode, no
# C runtime, linked by lld-link against the mingw-w64 import libraries. The compiler's dump
# of the tables it lays out is kept in TABLES for check_contract_tables.cmake.
# Arguments: CLANGXX, LLD_LINK, SOURCE, SOURCE_ROOT, IMPORT_LIB_DIR, OBJECT, DLL, TABLES.
execute_process(
  COMMAND ${CLANGXX} --target=x86_64-pc-windows-msvc -fms-compatibility -fno-exceptions -fno-rtti
          -std=c++20 -O1 -Wall -Wextra -I${SOURCE_ROOT}
          -Xclang -fdump-vtable-layouts -c ${SOURCE} -o ${OBJECT}
  OUTPUT_FILE ${TABLES}
  RESULT_VARIABLE compiled)
if(NOT compiled EQUAL 0)
  message(FATAL_ERROR "clang++ (MSVC mode) failed on ${SOURCE}")
endif()
execute_process(
  COMMAND ${LLD_LINK} /nologo /dll /nodefaultlib /noentry /out:${DLL} /implib:${OBJECT}.lib ${OBJECT}
          ${IMPORT_LIB_DIR}/libkernel32.a ${IMPORT_LIB_DIR}/libadvapi32.a ${IMPORT_LIB_DIR}/liboleaut32.a
  RESULT_VARIABLE linked)
if(NOT linked EQUAL 0)
  message(FATAL_ERROR "lld-link failed on ${OBJECT}")
endif()
