# The manager contract's tables as both compilers lay them out must meet entry for entry:
# KV_event (the service's class, called by the component) and RX_manager_i (the component's
# interface, called by the service). MSVC_TABLES is clang's -fdump-vtable-layouts of the
# platform-ABI double, MINGW_TABLES the project compiler's -fdump-lang-class of
# contract_tables_probe_win.cpp. The platform compiler's entry 0 of KV_event is its
# scalar deleting destructor, which the service's class provides as `destroy`.
foreach(file MSVC_TABLES MINGW_TABLES)
  if(NOT EXISTS "${${file}}")
    message(FATAL_ERROR "${${file}} is missing: the platform-ABI manager double was not built "
                        "(clang++ and lld-link are needed; scripts/install-deps.sh installs clang and lld)")
  endif()
endforeach()

# The function names of the entries of clang's table titled `title`, in slot order.
function(msvc_entries title out)
  file(STRINGS "${MSVC_TABLES}" lines)
  set(inside FALSE)
  set(names)
  foreach(line IN LISTS lines)
    if(line STREQUAL "${title}")
      set(inside TRUE)
    elseif(inside AND line MATCHES "^ +[0-9]+ \\| ")
      if(line MATCHES "~[A-Za-z_]+\\(\\) \\[scalar deleting\\]")
        list(APPEND names "scalar deleting destructor")
      elseif(line MATCHES "([A-Za-z_][A-Za-z_0-9]*)\\(")
        list(APPEND names "${CMAKE_MATCH_1}")
      endif()
    elseif(inside)
      break()
    endif()
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

# The function names of gcc's table of `class`, from its address point (after the offset to
# the top and the type information) on.
function(mingw_entries class out)
  file(STRINGS "${MINGW_TABLES}" lines)
  set(inside FALSE)
  set(names)
  foreach(line IN LISTS lines)
    if(line STREQUAL "Vtable for ${class}")
      set(inside TRUE)
    elseif(inside AND line MATCHES "^([0-9]+) +\\(int \\(\\*\\)\\(\\.\\.\\.\\)\\)([A-Za-z_0-9:]+)$")
      if(CMAKE_MATCH_1 GREATER_EQUAL 16)
        string(REGEX REPLACE ".*::" "" name "${CMAKE_MATCH_2}")
        list(APPEND names "${name}")
      endif()
    elseif(inside AND line STREQUAL "")
      break()
    endif()
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

function(expect_same what msvc mingw)
  message(STATUS "${what}: platform ABI [${msvc}]")
  message(STATUS "${what}: mingw       [${mingw}]")
  if(NOT msvc STREQUAL mingw)
    message(FATAL_ERROR "${what}: the two compilers' tables differ")
  endif()
endfunction()

msvc_entries("VFTable for 'KV_event' (6 entries)." msvc_event)
mingw_entries(KV_event mingw_event)
list(TRANSFORM mingw_event REPLACE "^destroy$" "scalar deleting destructor")
expect_same(KV_event "${msvc_event}"
  "scalar deleting destructor;set_event;reset_event;wait;event_handle;object_name")
expect_same(KV_event "${msvc_event}" "${mingw_event}")

msvc_entries("VFTable for 'IUnknown' in 'RX_manager_i' in '(anonymous namespace)::manager' (5 entries)."
             msvc_manager)
mingw_entries(contract_tables_probe mingw_manager)
expect_same(RX_manager_i "${msvc_manager}" "QueryInterface;AddRef;Release;start_manager;forward_call")
expect_same(RX_manager_i "${msvc_manager}" "${mingw_manager}")
