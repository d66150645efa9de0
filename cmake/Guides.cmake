# The script authors' guides as HTML: docs/GUIDE.md and each translation
# docs/GUIDE.<language>.md become GUIDE.html, GUIDE.<language>.html, one
# self-contained file each (cmake/guide_html.py, with Debian's Python and its
# python3-markdown).
#
#   velora_guide_sources(<var>)    the Markdown files, English first
#   velora_guide_names(<var>)      the HTML files' names, in the same order
#   velora_guides(<target> <folder> [BESIDE <name>...])
#       a target that writes the HTML guides into <folder>; the guides may
#       link to the BESIDE files (those that come with them). Sets
#       VELORA_GUIDE_FILES to the files it writes, in the order of the sources.
function(velora_guide_sources var)
    # (CMake configures again when a translation comes or goes.)
    file(GLOB translations CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/GUIDE.*.md)
    list(SORT translations)
    set(${var} ${PROJECT_SOURCE_DIR}/docs/GUIDE.md ${translations} PARENT_SCOPE)
endfunction()

function(velora_guide_names var)
    velora_guide_sources(sources)
    set(names)
    foreach(source IN LISTS sources)
        get_filename_component(name ${source} NAME)
        string(REGEX REPLACE "\\.md$" ".html" name ${name})
        list(APPEND names ${name})
    endforeach()
    set(${var} ${names} PARENT_SCOPE)
endfunction()

function(velora_guides target folder)
    cmake_parse_arguments(PARSE_ARGV 2 guides "" "" "BESIDE")
    find_program(VELORA_DEBIAN_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    execute_process(COMMAND ${VELORA_DEBIAN_PYTHON} -c "import markdown"
        RESULT_VARIABLE missing OUTPUT_QUIET ERROR_QUIET)
    if(missing)
        message(FATAL_ERROR "The guides are made with Python-Markdown: apt-get install python3-markdown")
    endif()
    velora_guide_sources(sources)
    velora_guide_names(outputs)
    list(TRANSFORM outputs PREPEND ${folder}/)
    # The pictures they show, by name beside them in docs/.
    file(GLOB pictures ${PROJECT_SOURCE_DIR}/docs/*.png)
    set(beside)
    foreach(name IN LISTS guides_BESIDE)
        list(APPEND beside --beside ${name})
    endforeach()
    set(script ${PROJECT_SOURCE_DIR}/cmake/guide_html.py)
    add_custom_command(OUTPUT ${outputs}
        COMMAND ${VELORA_DEBIAN_PYTHON} ${script} ${folder} ${beside} ${sources}
        DEPENDS ${script} ${PROJECT_SOURCE_DIR}/cmake/build_files.py ${sources} ${pictures}
        COMMENT "Writing the guides as HTML into ${folder}"
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS ${outputs})
    set(VELORA_GUIDE_FILES ${outputs} PARENT_SCOPE)
endfunction()
