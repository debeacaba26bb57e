# ui_add_layouts(TARGET layout.json...): converts each readable layout into the binary layout stream at
# build time and embeds it in TARGET as an RCDATA resource named after the layout's root class.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(UI_LAYOUT_CONVERTER "${CMAKE_CURRENT_LIST_DIR}/tools/layout2bin.py" CACHE INTERNAL "")
# find_package results are directory-scoped; the function runs in the test and app folders.
set(UI_PYTHON "${Python3_EXECUTABLE}" CACHE INTERNAL "")

function(ui_add_layouts target)
  set(outdir "${CMAKE_CURRENT_BINARY_DIR}/${target}_layouts")
  set(rc "${outdir}/layouts.rc")
  set(bins)
  foreach(src ${ARGN})
    get_filename_component(abs "${src}" ABSOLUTE)
    get_filename_component(stem "${src}" NAME_WE)
    set(bin "${outdir}/${stem}.bin")
    add_custom_command(OUTPUT "${bin}" "${bin}.rcinc"
      COMMAND "${UI_PYTHON}" "${UI_LAYOUT_CONVERTER}" "${abs}" "${bin}"
      DEPENDS "${abs}" "${UI_LAYOUT_CONVERTER}" VERBATIM)
    list(APPEND bins "${bin}")
  endforeach()
  # One resource script per target: it includes every converter-written line.
  set(lines)
  foreach(bin ${bins})
    list(APPEND lines "#include \"${bin}.rcinc\"")
  endforeach()
  string(REPLACE ";" "\n" lines "${lines}")
  file(GENERATE OUTPUT "${rc}" CONTENT "${lines}\n")
  set(deps)
  foreach(bin ${bins})
    list(APPEND deps "${bin}" "${bin}.rcinc")
  endforeach()
  set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS "${deps}")
  # Listing the generated files as sources makes the target wait for the converter.
  target_sources(${target} PRIVATE "${rc}" ${deps})
endfunction()
