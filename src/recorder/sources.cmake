# Files of src/recorder: CLIPNOTE_CORE_SOURCES holds no widget code.
list(APPEND CLIPNOTE_CORE_SOURCES
    recorder/recordsound.cpp
    recorder/soundblocks.cpp
    recorder/soundsource.cpp
    recorder/testtone.cpp
    recorder/wmvaudioencoder.cpp
    recorder/wmvaudiotimeline.cpp
    recorder/wmvcontainer.cpp
    recorder/wmvprofiles.cpp
    recorder/wmvvideoencoder.cpp
    recorder/wmvwriter.cpp)
