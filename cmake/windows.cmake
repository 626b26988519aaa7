# Windows build of the connector: the executable's resources (icon, version, manifest). Included by the
# top-level CMakeLists.txt when building for Windows, after src/ has defined the executable.
enable_language(RC)

set(connector_windows_dir ${CMAKE_SOURCE_DIR}/packaging/windows)
set(connector_rc ${connector_windows_dir}/sanvero-connector.rc)
target_sources(sanvero-connector PRIVATE ${connector_rc})
if(NOT PROJECT_VERSION_PATCH)
    set(PROJECT_VERSION_PATCH 0)
endif()
# A header rather than definitions on the command line: a quoted string survives no resource compiler's quoting.
set(connector_version_dir ${CMAKE_BINARY_DIR}/windows)
file(WRITE ${connector_version_dir}/connector_version.h.new
    "#define CONNECTOR_VERSION_MAJOR ${PROJECT_VERSION_MAJOR}\n"
    "#define CONNECTOR_VERSION_MINOR ${PROJECT_VERSION_MINOR}\n"
    "#define CONNECTOR_VERSION_PATCH ${PROJECT_VERSION_PATCH}\n"
    "#define CONNECTOR_VERSION_TEXT \"${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}\"\n")
configure_file(${connector_version_dir}/connector_version.h.new ${connector_version_dir}/connector_version.h COPYONLY)
target_include_directories(sanvero-connector PRIVATE ${connector_version_dir})
if(MSVC)
    # The MSVC linker merges manifest sources into the one it writes.
    target_sources(sanvero-connector PRIVATE ${connector_windows_dir}/sanvero-connector.manifest)
else()
    # MinGW's linker writes none: the resource script carries it.
    target_compile_definitions(sanvero-connector PRIVATE $<$<COMPILE_LANGUAGE:RC>:CONNECTOR_EMBED_MANIFEST>)
endif()
if(NOT CMAKE_VERSION VERSION_LESS 3.18)
    # Rebuild the resources when the icon or the manifest changes (the script only names them).
    set_source_files_properties(${connector_rc} TARGET_DIRECTORY sanvero-connector PROPERTIES OBJECT_DEPENDS
        "${connector_windows_dir}/sanvero-connector.ico;${connector_windows_dir}/sanvero-connector.manifest")
endif()
