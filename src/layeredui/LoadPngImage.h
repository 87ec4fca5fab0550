#pragma once

#include <memory>

#include <QIcon>
#include <QImage>

// The skin picture with the given id, decoded from the program's embedded
// resources (":/png/<id>.png") into a new image the caller owns. An id that
// names no picture, or bytes that do not decode, give an empty 0x0 image;
// nullptr only when the image object cannot be allocated. Nothing is cached:
// every call decodes again. Safe on any thread.
std::unique_ptr<QImage> LoadPngImage(unsigned resourceId);

// The resource path of a skin picture, for code that wants a QIcon or a
// QPixmap directly.
QString PngResourcePath(unsigned resourceId);

// The window icon with that id (194), with every size the program carries
// (":/icon/<id>-<n>.png"). A null icon when there is none. Needs a
// QGuiApplication.
QIcon LoadIconResource(unsigned resourceId);
