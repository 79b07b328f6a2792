#include "slpropertystreams.h"

SlPropertyStreams::SlPropertyStreams(QIODevice *readDevice, QIODevice *writeDevice)
    : readDevice(readDevice)
    , writeDevice(writeDevice)
{}
