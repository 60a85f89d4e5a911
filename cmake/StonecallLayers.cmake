# One library per layer. A layer's headers are included as "<layer>/Name.h", and only the
# targets that link the layer can see them: its include root holds nothing but a link to its
# own folder. So an include that reaches into a layer the target may not use fails to build.
function(stonecall_layer layer)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    set(root ${CMAKE_BINARY_DIR}/layers/${layer})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${layer} SYMBOLIC)

    set(target stonecall_${layer})
    set(compiled ${ARG_SOURCES})
    list(FILTER compiled INCLUDE REGEX "\\.cpp$")
    if(compiled)
        add_library(${target} STATIC ${ARG_SOURCES})
        target_include_directories(${target} PUBLIC ${root})
        target_link_libraries(${target} PUBLIC ${ARG_DEPS})
        stonecall_warnings(${target})
        set_target_properties(${target} PROPERTIES AUTOMOC OFF AUTOUIC OFF)
    else()
        add_library(${target} INTERFACE ${ARG_SOURCES})
        target_include_directories(${target} INTERFACE ${root})
        target_link_libraries(${target} INTERFACE ${ARG_DEPS})
    endif()
endfunction()

# Layers whose code is plain C++: no Qt, no moc.
set(STONECALL_CORE_LAYERS wire session platform protocol roster huts link app)
