# quorvel_shaders(target NAMES name... SOURCES file...): compiles each GLSL source in shaders/ to
# SPIR-V with glslc and builds the modules into `target`, answered by GpuShaderLibrary::builtInCode
# under the given names (same order).
find_program(QUORVEL_GLSLC glslc REQUIRED)
function(quorvel_shaders target)
  cmake_parse_arguments(S "" "" "NAMES;SOURCES" ${ARGN})
  set(spirv)
  file(GLOB includes ${PROJECT_SOURCE_DIR}/shaders/*.glsl)
  foreach(src ${S_SOURCES})
    get_filename_component(base ${src} NAME)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/shaders/${base}.spv)
    add_custom_command(
      OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/shaders
      COMMAND ${QUORVEL_GLSLC} --target-env=vulkan1.3 -O -Werror -I ${PROJECT_SOURCE_DIR}/shaders
              -o ${out} ${PROJECT_SOURCE_DIR}/shaders/${src}
      DEPENDS ${PROJECT_SOURCE_DIR}/shaders/${src} ${includes}
      COMMENT "Compiling shader ${src}"
      VERBATIM)
    list(APPEND spirv ${out})
  endforeach()
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/shaders/BuiltInShaders.cpp)
  string(REPLACE ";" "|" names "${S_NAMES}")
  string(REPLACE ";" "|" files "${spirv}")
  add_custom_command(
    OUTPUT ${generated}
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${generated} "-DNAMES=${names}" "-DFILES=${files}"
            -P ${PROJECT_SOURCE_DIR}/cmake/EmbedSpirv.cmake
    DEPENDS ${spirv} ${PROJECT_SOURCE_DIR}/cmake/EmbedSpirv.cmake
    COMMENT "Embedding shaders"
    VERBATIM)
  target_sources(${target} PRIVATE ${generated})
endfunction()
