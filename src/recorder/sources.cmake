# Files of src/recorder: CLIPNOTE_CORE_SOURCES holds no widget code.
list(APPEND CLIPNOTE_CORE_SOURCES
    recorder/frameconversion.cpp
    recorder/latestframe.cpp
    recorder/recordsound.cpp
    recorder/soundblocks.cpp
    recorder/soundsource.cpp
    recorder/stillimage.cpp
    recorder/testpattern.cpp
    recorder/testtone.cpp
    recorder/thumbnail.cpp
    recorder/wmvaudioencoder.cpp
    recorder/wmvaudiotimeline.cpp
    recorder/wmvcontainer.cpp
    recorder/wmvprofiles.cpp
    recorder/wmvvideoencoder.cpp
    recorder/wmvwriter.cpp)
# The capture window and the camera behind it need the widgets and the
# multimedia library.
list(APPEND CLIPNOTE_WIDGET_SOURCES
    recorder/camerasource.cpp
    recorder/capturewindow.cpp)
