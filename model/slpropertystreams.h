#ifndef SLPROPERTYSTREAMS_H
#define SLPROPERTYSTREAMS_H

class QIODevice;

// The devices shared by every node of one tree: the memory image the nodes decode from and the
// link their writes go out through. The owner of the tree owns both devices.
struct SlPropertyStreams
{
    SlPropertyStreams() = default;
    SlPropertyStreams(QIODevice *readDevice, QIODevice *writeDevice);

    QIODevice *readDevice = nullptr;
    QIODevice *writeDevice = nullptr;
};

#endif // SLPROPERTYSTREAMS_H
