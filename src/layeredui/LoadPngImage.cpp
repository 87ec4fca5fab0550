#include "layeredui/LoadPngImage.h"

#include <mutex>
#include <new>

#include <QFile>
#include <QImageReader>

// The artwork lives in a static library; referencing its initialiser keeps the
// linker from dropping it and registers it before the first lookup.
static void RegisterArtwork()
{
    static std::once_flag once;
    std::call_once(once, [] { Q_INIT_RESOURCE(artwork); });
}

QString PngResourcePath(unsigned resourceId)
{
    return QStringLiteral(":/png/%1.png").arg(resourceId);
}

std::unique_ptr<QImage> LoadPngImage(unsigned resourceId)
{
    RegisterArtwork();
    std::unique_ptr<QImage> image(new (std::nothrow) QImage());
    if (!image)
        return nullptr;
    QFile file(PngResourcePath(resourceId));
    if (!file.open(QIODevice::ReadOnly))
        return image;
    // Decode from a private copy of the bytes; a failed decode leaves the
    // image empty rather than raising anything.
    const QByteArray bytes = file.readAll();
    if (!image->loadFromData(bytes, "PNG")) {
        *image = QImage();
        return image;
    }
    // Pictures with alpha are drawn into premultiplied frames; decoding them
    // straight into that form spares a conversion at every draw.
    if (image->hasAlphaChannel())
        image->convertTo(QImage::Format_ARGB32_Premultiplied);
    return image;
}

QIcon LoadIconResource(unsigned resourceId)
{
    RegisterArtwork();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString path = QStringLiteral(":/icon/%1-%2.png").arg(resourceId).arg(size);
        if (QFile::exists(path))
            icon.addFile(path, QSize(size, size));
    }
    return icon;
}
