# Release hardening and repeatable builds for everything the cross compiler builds
# (the product, its tests and doubles alike, so the tests run the code that ships).
# - Stack cookies in every function with an array or an address taken, and the runtime's
#   checked copies of the string and memory functions. With mingw-w64 both need libssp,
#   which -fstack-protector-strong at link time brings in (statically, with -static).
# - Debug information names files relative to the source folder (".") and the build
#   folder ("build"), so two clones in different folders compile the same bytes.
# The vault-driver double (-nostdlib, no runtime) and the clang-built manager double are
# built by commands of their own and take none of this. Control Flow Guard and CET
# shadow-stack marking are not set: docs/security.md says why.
add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-fstack-protector-strong>)
add_compile_definitions($<$<COMPILE_LANGUAGE:C,CXX>:_FORTIFY_SOURCE=2>)
add_link_options(-fstack-protector-strong)
# The build folder is mapped after the source folder: the later map wins where both match.
add_compile_options(
  $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>
  $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=build>)

# The time every repeatable step takes instead of "now": the commit's time
# (scripts/package.sh passes the current commit's; otherwise it is read once, at the first
# configure). The package's links, strips, version resources and installer take it.
if(NOT DEFINED KV_SOURCE_DATE_EPOCH)
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE git_failed ERROR_QUIET)
  if(git_failed OR NOT epoch)
    set(epoch 0)
  endif()
  set(KV_SOURCE_DATE_EPOCH ${epoch} CACHE STRING "Seconds since 1970 that repeatable build steps write as their time")
endif()
