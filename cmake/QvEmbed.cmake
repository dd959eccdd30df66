# qv_embed(<target> <name> <file>)
# Compiles the bytes of <file> into <target> as
#   extern const unsigned char <name>[];   // the bytes
#   extern const uint32_t <name>Size;      // their count
# The .cpp is written at build time by this same file run as a CMake script
# (plain CMake, so it works for the cross builds too) and rewritten whenever
# <file> changes. Nothing is read from disk at run time.
set(_QV_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_FILE})

function(qv_embed target name file)
  get_filename_component(input ${file} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  set(output ${CMAKE_CURRENT_BINARY_DIR}/embed/${name}.cpp)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DQV_EMBED_NAME=${name} -DQV_EMBED_INPUT=${input}
            -DQV_EMBED_OUTPUT=${output} -P ${_QV_EMBED_SCRIPT}
    DEPENDS ${input} ${_QV_EMBED_SCRIPT}
    COMMENT "Embedding ${file} as ${name}"
    VERBATIM)
  target_sources(${target} PRIVATE ${output})
endfunction()

# Script mode: write the array source.
if(CMAKE_SCRIPT_MODE_FILE AND DEFINED QV_EMBED_INPUT)
  if(NOT QV_EMBED_NAME MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
    message(FATAL_ERROR "qv_embed: '${QV_EMBED_NAME}' is not a C++ identifier")
  endif()
  file(READ ${QV_EMBED_INPUT} hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  if(size EQUAL 0)
    # An array cannot be empty; keep one byte that the size leaves out.
    set(body "  0x00,\n")
  else()
    # 16 bytes a line, then every byte pair becomes 0xNN.
    string(REPEAT "[0-9a-f]" 32 line)
    string(REGEX REPLACE "(${line})" "\\1\n" hex "${hex}")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
    string(REGEX REPLACE "(^|\n)0x" "\\1  0x" body "${body}")
    if(NOT body MATCHES "\n$")
      string(APPEND body "\n")
    endif()
  endif()
  get_filename_component(input_name ${QV_EMBED_INPUT} NAME)
  set(text "// Generated from ${input_name} by cmake/QvEmbed.cmake; do not edit.\n")
  string(APPEND text "#include <cstdint>\n\n")
  string(APPEND text "extern const unsigned char ${QV_EMBED_NAME}[];\n")
  string(APPEND text "extern const uint32_t ${QV_EMBED_NAME}Size;\n\n")
  string(APPEND text "const unsigned char ${QV_EMBED_NAME}[] = {\n${body}};\n")
  string(APPEND text "const uint32_t ${QV_EMBED_NAME}Size = ${size}u;\n")
  file(WRITE ${QV_EMBED_OUTPUT} "${text}")
endif()
