# quarn_embed_files(<target> <folder>): builds every file below <folder> into <target>, where
# the file system finds it as "res://" + its path relative to the folder. Each program embeds
# one folder: the player the engine's res/, a test program its own fixtures.
set(QUARN_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/GenerateEmbeddedFiles.cmake)

function(quarn_embed_files target folder)
    file(GLOB_RECURSE files CONFIGURE_DEPENDS LIST_DIRECTORIES false ${folder}/*)
    set(output ${CMAKE_CURRENT_BINARY_DIR}/${target}_embedded_files.cpp)
    add_custom_command(
        OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -DFOLDER=${folder} -DOUTPUT=${output} -P ${QUARN_EMBED_SCRIPT}
        DEPENDS ${files} ${QUARN_EMBED_SCRIPT}
        COMMENT "Embedding ${folder} into ${target}"
        VERBATIM)
    target_sources(${target} PRIVATE ${output})
endfunction()
