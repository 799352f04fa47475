# The fuzz targets, built from the model's sources with the fuzzing
# instrumentation; used by this folder (LUMIVANE_FUZZ) and by the standalone
# project that the fuzz test builds with clang.
function(lumivane_add_fuzz_targets root)
    set(flags -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
        -fno-omit-frame-pointer -g -O1)
    add_library(lumivane_fuzz_model STATIC
        ${root}/src/base/Log.cpp
        ${root}/src/base/NumberText.cpp
        ${root}/src/base/PathString.cpp
        ${root}/src/base/PendingFiles.cpp
        ${root}/src/base/PlainXmlReader.cpp
        ${root}/src/base/PlistLibplist.cpp
        ${root}/src/base/PlistScreening.cpp
        ${root}/src/base/PlistValue.cpp
        ${root}/src/platform/events/OBEvent.cpp
        ${root}/src/platform/engine/CompositionHeader.cpp
        ${root}/src/platform/events/Point.cpp
        ${root}/src/platform/link/FrameDecoder.cpp
        ${root}/src/shared/EventPropertyList.cpp
        ${root}/src/shared/RecordedEvents.cpp)
    target_include_directories(lumivane_fuzz_model PUBLIC ${root}/src)
    target_compile_options(lumivane_fuzz_model PUBLIC ${flags})
    target_link_libraries(lumivane_fuzz_model PUBLIC PkgConfig::PLIST)
    foreach(name RecordingLoaderFuzzer EventPropertyListFuzzer LinkFrameFuzzer
                 CompositionHeaderFuzzer)
        add_executable(${name} ${root}/tests/fuzz/${name}.cpp)
        target_link_libraries(${name} PRIVATE lumivane_fuzz_model)
        target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    endforeach()
endfunction()
