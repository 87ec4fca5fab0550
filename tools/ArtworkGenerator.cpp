// zorvath-artwork: draws every skin picture of the downloader and writes them
// as resources/png/<id>.png, the window icon as resources/icon/194-<n>.png.
//
// Usage: zorvath-artwork <resources folder>
//
// The output is deterministic: no time stamps or text chunks in the PNGs, a
// fixed resolution, fixed fonts and a fixed pseudo-random sequence, so running
// it again from a clean tree reproduces the committed files byte for byte
// (on a machine with the same fonts installed).

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

// Geometry of the main window's skin, in client coordinates.
constexpr int kWidth = 740;
constexpr int kHeight = 525;
const QRectF kPanel(14, 80, 712, 438);       // the opaque body of the window
constexpr double kPanelRadius = 14;
constexpr double kHeaderBottom = 128;
const QRect kWebPanel(381, 136, 311, 162);   // left blank for the web page
const QRect kHero(26, 136, 340, 262);        // artwork on the left
const QRect kFolderField(255, 412, 243, 28);
const QRect kBrowse(501, 416, 45, 20);
const QRect kProgress(163, 461, 371, 20);
const QRect kVersion(153, 495, 191, 16);
const QRect kStatus(404, 495, 228, 16);

const QColor kInk(0x0d, 0x12, 0x1d);
const QColor kBody(0x15, 0x1b, 0x29);
const QColor kBodyLight(0x1c, 0x24, 0x36);
const QColor kLine(0x2b, 0x36, 0x4f);
const QColor kGold(0xf2, 0xb6, 0x4a);
const QColor kGoldDeep(0xd9, 0x7a, 0x1e);
const QColor kText(0xe8, 0xec, 0xf4);
const QColor kTextDim(0x8a, 0x95, 0xab);

QString g_family;
constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

QFont UiFont(int pixelSize, QFont::Weight weight = QFont::Normal)
{
    QFont font(g_family);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

// A small fixed pseudo-random sequence (the same on every run and platform).
struct Lcg {
    std::uint32_t state;
    double Next()
    {
        state = state * 1664525u + 1013904223u;
        return double(state >> 8) / double(1u << 24);
    }
};

QImage NewImage(int w, int h, bool alpha)
{
    QImage image(w, h, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    image.fill(alpha ? Qt::transparent : Qt::black);
    return image;
}

void Prepare(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
}

// A soft shadow: the shape's alpha, blurred by repeated box passes.
QImage SoftShadow(const QSize& size, const QPainterPath& shape, int radius, QColor color)
{
    QImage alpha(size, QImage::Format_Alpha8);
    alpha.fill(0);
    {
        QPainter p(&alpha);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.fillPath(shape, QColor(0, 0, 0, 255));
    }
    const int w = size.width();
    const int h = size.height();
    std::vector<int> buffer(std::size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            buffer[std::size_t(y) * w + x] = alpha.constScanLine(y)[x];
    std::vector<int> tmp(buffer.size());
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                int sum = 0, n = 0;
                for (int k = -radius; k <= radius; ++k) {
                    const int xx = x + k;
                    if (xx >= 0 && xx < w) {
                        sum += buffer[std::size_t(y) * w + xx];
                    }
                    ++n;
                }
                tmp[std::size_t(y) * w + x] = sum / n;
            }
        }
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                int sum = 0, n = 0;
                for (int k = -radius; k <= radius; ++k) {
                    const int yy = y + k;
                    if (yy >= 0 && yy < h)
                        sum += tmp[std::size_t(yy) * w + x];
                    ++n;
                }
                buffer[std::size_t(y) * w + x] = sum / n;
            }
        }
    }
    QImage out(size, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int a = buffer[std::size_t(y) * w + x] * color.alpha() / 255;
            line[x] = qPremultiply(qRgba(color.red(), color.green(), color.blue(), a));
        }
    }
    return out;
}

void DrawTextWithShadow(QPainter& p, const QRectF& rect, int flags, const QString& text,
                        const QColor& color, const QColor& shadow)
{
    p.setPen(shadow);
    p.drawText(rect.translated(0, 1), flags, text);
    p.setPen(color);
    p.drawText(rect, flags, text);
}

// The crest: a faceted shield with a "Z", used on the window and as the icon.
void DrawCrest(QPainter& p, const QRectF& box)
{
    const double w = box.width();
    const double h = box.height();
    const double cx = box.center().x();
    QPainterPath shield;
    shield.moveTo(cx, box.top());
    shield.lineTo(box.right(), box.top() + h * 0.22);
    shield.lineTo(box.right() - w * 0.06, box.top() + h * 0.66);
    shield.lineTo(cx, box.bottom());
    shield.lineTo(box.left() + w * 0.06, box.top() + h * 0.66);
    shield.lineTo(box.left(), box.top() + h * 0.22);
    shield.closeSubpath();

    QLinearGradient rim(box.topLeft(), box.bottomRight());
    rim.setColorAt(0, QColor(0xff, 0xe0, 0x9a));
    rim.setColorAt(0.5, kGold);
    rim.setColorAt(1, kGoldDeep);
    p.fillPath(shield, rim);

    const double inset = std::max(1.0, w * 0.07);
    QTransform shrink;
    shrink.translate(cx, box.center().y());
    shrink.scale((w - 2 * inset) / w, (h - 2 * inset) / h);
    shrink.translate(-cx, -box.center().y());
    const QPainterPath inner = shrink.map(shield);
    QLinearGradient core(box.topLeft(), box.bottomLeft());
    core.setColorAt(0, QColor(0x2a, 0x34, 0x52));
    core.setColorAt(1, QColor(0x0c, 0x10, 0x1c));
    p.fillPath(inner, core);

    // The letter as a bold stroke path so it looks the same at every size.
    const double lw = std::max(1.2, w * 0.11);
    QPainterPath z;
    z.moveTo(box.left() + w * 0.30, box.top() + h * 0.30);
    z.lineTo(box.left() + w * 0.70, box.top() + h * 0.30);
    z.lineTo(box.left() + w * 0.30, box.top() + h * 0.66);
    z.lineTo(box.left() + w * 0.70, box.top() + h * 0.66);
    QPen pen(QColor(0xff, 0xd5, 0x7a), lw, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    p.strokePath(z, pen);
}

// A castle behind the nearest ridge, which hides its foot.
void DrawCastle(QPainter& p)
{
    QPainterPath keep;
    const double kx = kHero.left() + 70;
    const double ky = kHero.bottom() - 52;
    keep.addRect(kx, ky - 34, 16, 60);
    keep.addRect(kx + 16, ky - 14, 30, 40);
    keep.addRect(kx + 46, ky - 48, 12, 74);
    keep.moveTo(kx - 2, ky - 34);
    keep.lineTo(kx + 8, ky - 52);
    keep.lineTo(kx + 18, ky - 34);
    keep.moveTo(kx + 44, ky - 48);
    keep.lineTo(kx + 52, ky - 70);
    keep.lineTo(kx + 60, ky - 48);
    p.fillPath(keep, QColor(0x0e, 0x0c, 0x18));
    p.setBrush(QColor(255, 200, 120));
    p.drawRect(QRectF(kx + 50, ky - 34, 3, 5));
    p.drawRect(QRectF(kx + 6, ky - 20, 3, 5));
}

void DrawHero(QPainter& p)
{
    p.save();
    QPainterPath clip;
    clip.addRoundedRect(QRectF(kHero), 8, 8);
    p.setClipPath(clip);

    QLinearGradient sky(kHero.topLeft(), kHero.bottomLeft());
    sky.setColorAt(0.0, QColor(0x1b, 0x1f, 0x4a));
    sky.setColorAt(0.45, QColor(0x5a, 0x2e, 0x6e));
    sky.setColorAt(0.75, QColor(0xd0, 0x6a, 0x4a));
    sky.setColorAt(1.0, QColor(0xf4, 0xb0, 0x5c));
    p.fillRect(kHero, sky);

    Lcg random{20240611u};
    for (int i = 0; i < 70; ++i) {
        const double x = kHero.left() + random.Next() * kHero.width();
        const double y = kHero.top() + random.Next() * kHero.height() * 0.45;
        const double r = 0.4 + random.Next() * 1.0;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, int(90 + random.Next() * 150)));
        p.drawEllipse(QPointF(x, y), r, r);
    }

    const QPointF sun(kHero.left() + kHero.width() * 0.68, kHero.top() + kHero.height() * 0.56);
    QRadialGradient glow(sun, 90);
    glow.setColorAt(0, QColor(255, 236, 180, 230));
    glow.setColorAt(0.25, QColor(255, 190, 110, 120));
    glow.setColorAt(1, QColor(255, 150, 80, 0));
    p.setBrush(glow);
    p.drawEllipse(sun, 90, 90);
    p.setBrush(QColor(255, 243, 214));
    p.drawEllipse(sun, 22, 22);

    // Three mountain ranges, far to near.
    const QColor ranges[] = {QColor(0x6c, 0x3a, 0x5e), QColor(0x3a, 0x25, 0x48), QColor(0x17, 0x14, 0x26)};
    const double base[] = {0.62, 0.72, 0.84};
    const double amp[] = {42, 54, 46};
    for (int r = 0; r < 3; ++r) {
        if (r == 2)
            DrawCastle(p);
        QPainterPath ridge;
        ridge.moveTo(kHero.left(), kHero.bottom() + 1);
        const double y0 = kHero.top() + kHero.height() * base[r];
        double x = kHero.left();
        ridge.lineTo(x, y0);
        while (x < kHero.right()) {
            const double step = 18 + random.Next() * 34;
            const double peak = y0 - random.Next() * amp[r];
            ridge.lineTo(x + step * 0.5, peak);
            x += step;
            ridge.lineTo(x, y0 - random.Next() * amp[r] * 0.3);
        }
        ridge.lineTo(kHero.right() + 1, kHero.bottom() + 1);
        ridge.closeSubpath();
        p.fillPath(ridge, ranges[r]);
    }

    // Fade into the body at the bottom.
    QLinearGradient fade(QPointF(0, kHero.bottom() - 60), QPointF(0, kHero.bottom()));
    fade.setColorAt(0, QColor(kBody.red(), kBody.green(), kBody.blue(), 0));
    fade.setColorAt(1, QColor(kBody.red(), kBody.green(), kBody.blue(), 235));
    p.fillRect(kHero, fade);

    p.setFont(UiFont(26, QFont::Bold));
    DrawTextWithShadow(p, QRectF(kHero.left() + 18, kHero.top() + 14, 300, 34), Qt::AlignLeft | Qt::AlignVCenter,
                       QStringLiteral("ZORVATH"), QColor(0xff, 0xe6, 0xb0), QColor(0, 0, 0, 160));
    p.setFont(UiFont(13));
    DrawTextWithShadow(p, QRectF(kHero.left() + 20, kHero.top() + 48, 300, 20), Qt::AlignLeft | Qt::AlignVCenter,
                       QStringLiteral("远征再启 · 王座之争"), QColor(0xf0, 0xe4, 0xd0), QColor(0, 0, 0, 160));
    p.restore();

    p.setPen(QPen(QColor(0x3a, 0x46, 0x66), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(kHero).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
}

QImage Background()
{
    QImage image = NewImage(kWidth, kHeight, true);
    QPainterPath body;
    body.addRoundedRect(kPanel, kPanelRadius, kPanelRadius);

    // Shadow first, offset a little downwards, then the body over it.
    {
        QPainterPath shadowShape;
        shadowShape.addRoundedRect(kPanel.adjusted(2, 3, -2, 1), kPanelRadius, kPanelRadius);
        const QImage shadow = SoftShadow(image.size(), shadowShape, 3, QColor(0, 0, 0, 150));
        QPainter p(&image);
        p.drawImage(0, 0, shadow);
    }

    QPainter p(&image);
    Prepare(p);
    QLinearGradient fill(kPanel.topLeft(), kPanel.bottomLeft());
    fill.setColorAt(0, kBodyLight);
    fill.setColorAt(0.3, kBody);
    fill.setColorAt(1, kInk);
    p.fillPath(body, fill);

    // Header band.
    p.save();
    p.setClipPath(body);
    QLinearGradient header(QPointF(0, kPanel.top()), QPointF(0, kHeaderBottom));
    header.setColorAt(0, QColor(0x25, 0x2f, 0x47));
    header.setColorAt(1, QColor(0x18, 0x1f, 0x30));
    p.fillRect(QRectF(kPanel.left(), kPanel.top(), kPanel.width(), kHeaderBottom - kPanel.top()), header);
    QLinearGradient accent(QPointF(kPanel.left(), 0), QPointF(kPanel.right(), 0));
    accent.setColorAt(0, QColor(kGold.red(), kGold.green(), kGold.blue(), 0));
    accent.setColorAt(0.3, kGold);
    accent.setColorAt(0.7, kGoldDeep);
    accent.setColorAt(1, QColor(kGoldDeep.red(), kGoldDeep.green(), kGoldDeep.blue(), 0));
    p.fillRect(QRectF(kPanel.left(), kHeaderBottom - 1, kPanel.width(), 1.5), accent);
    // Bottom status band.
    p.fillRect(QRectF(kPanel.left(), 489, kPanel.width(), kPanel.bottom() - 489), QColor(0x0a, 0x0e, 0x17));
    p.fillRect(QRectF(kPanel.left() + 20, 489, kPanel.width() - 40, 1), kLine);
    p.restore();

    // Outline: a light rim on the body.
    p.setPen(QPen(QColor(0x3c, 0x4a, 0x6c), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(kPanel.adjusted(0.5, 0.5, -0.5, -0.5), kPanelRadius, kPanelRadius);

    // Crest breaking out of the top edge, with the title beside it.
    {
        QPainterPath crestShadow;
        crestShadow.addEllipse(QRectF(36, 26, 96, 108));
        const QImage halo = SoftShadow(image.size(), crestShadow, 6, QColor(0, 0, 0, 110));
        p.drawImage(0, 0, halo);
        DrawCrest(p, QRectF(44, 22, 80, 100));
    }
    p.setFont(UiFont(20, QFont::Bold));
    DrawTextWithShadow(p, QRectF(140, 86, 300, 36), Qt::AlignLeft | Qt::AlignVCenter,
                       QStringLiteral("Zorvath 下载器"), kText, QColor(0, 0, 0, 170));
    p.setFont(UiFont(12));
    p.setPen(kTextDim);
    p.drawText(QRectF(300, 86, 200, 36), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("官方客户端"));

    DrawHero(p);

    // The web page panel: a frame around a blank dark area the page covers.
    p.setPen(QPen(kLine, 1));
    p.setBrush(QColor(0x0a, 0x0d, 0x15));
    p.drawRoundedRect(QRectF(kWebPanel).adjusted(-3.5, -3.5, 3.5, 3.5), 6, 6);
    p.fillRect(kWebPanel, QColor(0x0c, 0x10, 0x19));
    p.setFont(UiFont(12));
    p.setPen(kTextDim);
    p.drawText(QRectF(kWebPanel.left(), 304, kWebPanel.width(), 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("活动公告"));
    p.setPen(QPen(kLine, 1));
    p.drawLine(QPointF(kWebPanel.left() + 60, 313.5), QPointF(kWebPanel.right() + 1, 313.5));

    // Labels of the folder and progress rows.
    p.setFont(UiFont(13));
    p.setPen(kText);
    p.drawText(QRectF(163, kFolderField.top(), 88, kFolderField.height()), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("下载目录"));
    p.drawText(QRectF(93, kProgress.top() - 2, 64, kProgress.height() + 4), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("下载进度"));
    p.setPen(QPen(kLine, 1));
    p.drawLine(QPointF(40, 404.5), QPointF(kPanel.right() - 26, 404.5));

    // A small crest in the lower left corner.
    DrawCrest(p, QRectF(40, 420, 36, 44));
    return image;
}

// Button plates (145x53 with alpha): a rounded gradient plate with a caption.
enum class Look { Normal, Hover, Pressed };

struct Palette {
    QColor top;
    QColor bottom;
    QColor rim;
    QColor text;
};

QImage Plate(const QSize& size, const Palette& palette, Look look, const QString& caption, int textSize,
             bool outlined = false)
{
    QImage image = NewImage(size.width(), size.height(), true);
    const QRectF plate = QRectF(QPointF(0, 0), QSizeF(size)).adjusted(4, 4, -4, -5);
    const double radius = 6;
    QPainterPath shape;
    shape.addRoundedRect(plate.translated(0, look == Look::Pressed ? 1 : 0), radius, radius);

    if (look != Look::Pressed) {
        QPainterPath shadowShape;
        shadowShape.addRoundedRect(plate.translated(0, 2), radius, radius);
        QColor glow = look == Look::Hover ? palette.top : QColor(0, 0, 0);
        glow.setAlpha(look == Look::Hover ? 200 : 140);
        QPainter s(&image);
        s.drawImage(0, 0, SoftShadow(size, shadowShape, 2, glow));
    }

    QPainter p(&image);
    Prepare(p);
    auto shade = [look](QColor c) {
        if (look == Look::Hover)
            return c.lighter(118);
        if (look == Look::Pressed)
            return c.darker(125);
        return c;
    };
    if (outlined) {
        QColor fill = look == Look::Hover ? QColor(0x2a, 0x33, 0x4d) : QColor(0x1a, 0x21, 0x33);
        if (look == Look::Pressed)
            fill = QColor(0x12, 0x17, 0x24);
        p.fillPath(shape, fill);
        p.setPen(QPen(shade(palette.rim), look == Look::Hover ? 1.6 : 1.2));
        p.setBrush(Qt::NoBrush);
        p.drawPath(shape);
    } else {
        QLinearGradient g(plate.topLeft(), plate.bottomLeft());
        g.setColorAt(0, shade(palette.top));
        g.setColorAt(1, shade(palette.bottom));
        p.fillPath(shape, g);
        // Gloss on the upper half, an inner shade when pressed.
        p.save();
        p.setClipPath(shape);
        if (look == Look::Pressed) {
            QLinearGradient inner(plate.topLeft(), QPointF(plate.left(), plate.top() + 10));
            inner.setColorAt(0, QColor(0, 0, 0, 110));
            inner.setColorAt(1, QColor(0, 0, 0, 0));
            p.fillRect(plate.translated(0, 1), inner);
        } else {
            QLinearGradient gloss(plate.topLeft(), QPointF(plate.left(), plate.center().y()));
            gloss.setColorAt(0, QColor(255, 255, 255, look == Look::Hover ? 90 : 60));
            gloss.setColorAt(1, QColor(255, 255, 255, 0));
            p.fillRect(QRectF(plate.left(), plate.top(), plate.width(), plate.height() / 2), gloss);
        }
        p.restore();
        p.setPen(QPen(shade(palette.rim), 1));
        p.setBrush(Qt::NoBrush);
        p.drawPath(shape);
    }

    p.setFont(UiFont(textSize, QFont::Bold));
    const QRectF textRect = shape.boundingRect().translated(0, -1);
    DrawTextWithShadow(p, textRect, Qt::AlignCenter, caption, palette.text, QColor(0, 0, 0, 120));
    return image;
}

QImage CheckingPlate()
{
    const Palette slate{QColor(0x5e, 0x69, 0x80), QColor(0x3b, 0x43, 0x57), QColor(0x7a, 0x86, 0x9e),
                        QColor(0xd6, 0xdc, 0xe8)};
    QImage image = Plate(QSize(145, 53), slate, Look::Normal, QString(), 18);
    QPainter p(&image);
    Prepare(p);
    p.setFont(UiFont(18, QFont::Bold));
    DrawTextWithShadow(p, QRectF(4, 3, 110, 44), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("检测中"),
                       slate.text, QColor(0, 0, 0, 120));
    // Three dots fading out: "still working".
    for (int i = 0; i < 3; ++i) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xd6, 0xdc, 0xe8, 230 - i * 70));
        p.drawEllipse(QPointF(120 + i * 7, 27), 2.2, 2.2);
    }
    return image;
}

// Opaque pieces sit on the background, so they start as a crop of it.
QImage Crop(const QImage& background, const QRect& rect)
{
    return background.copy(rect).convertToFormat(QImage::Format_RGB32);
}

QImage ProgressTrack(const QImage& background)
{
    QImage image = Crop(background, kProgress);
    QPainter p(&image);
    Prepare(p);
    const QRectF r(0.5, 0.5, kProgress.width() - 1, kProgress.height() - 1);
    p.setPen(QPen(QColor(0x35, 0x42, 0x60), 1));
    p.setBrush(QColor(0x07, 0x0a, 0x11));
    p.drawRoundedRect(r, 4, 4);
    p.setPen(QPen(QColor(0, 0, 0, 150), 1));
    p.drawLine(QPointF(3, 1.5), QPointF(kProgress.width() - 3, 1.5));
    return image;
}

QImage ProgressFill()
{
    QImage image = NewImage(366, 16, false);
    QPainter p(&image);
    Prepare(p);
    QLinearGradient across(QPointF(0, 0), QPointF(366, 0));
    across.setColorAt(0, QColor(0xe0, 0x6a, 0x1a));
    across.setColorAt(1, QColor(0xff, 0xc8, 0x55));
    p.fillRect(image.rect(), across);
    // Diagonal stripes and a gloss line give the fill some motion.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 28));
    for (int x = -16; x < 366; x += 14) {
        QPainterPath stripe;
        stripe.moveTo(x, 16);
        stripe.lineTo(x + 7, 16);
        stripe.lineTo(x + 15, 0);
        stripe.lineTo(x + 8, 0);
        stripe.closeSubpath();
        p.drawPath(stripe);
    }
    QLinearGradient gloss(QPointF(0, 0), QPointF(0, 16));
    gloss.setColorAt(0, QColor(255, 255, 255, 90));
    gloss.setColorAt(0.45, QColor(255, 255, 255, 10));
    gloss.setColorAt(1, QColor(0, 0, 0, 50));
    p.fillRect(image.rect(), gloss);
    return image;
}

QImage FolderField()
{
    QImage image = NewImage(kFolderField.width(), kFolderField.height(), true);
    QPainter p(&image);
    Prepare(p);
    const QRectF r(0.5, 0.5, kFolderField.width() - 1, kFolderField.height() - 1);
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(0xd9, 0xdf, 0xe9));
    g.setColorAt(1, QColor(0xee, 0xf1, 0xf6));
    p.setPen(QPen(QColor(0x8f, 0x9a, 0xb2), 1));
    p.setBrush(g);
    p.drawRoundedRect(r, 5, 5);
    p.setPen(QPen(QColor(0, 0, 0, 40), 1));
    p.drawLine(QPointF(4, 2.5), QPointF(kFolderField.width() - 4, 2.5));
    return image;
}

QImage BrowseButton(const QImage& background, bool hover)
{
    QImage image = Crop(background, kBrowse);
    QPainter p(&image);
    Prepare(p);
    const QRectF r(0.5, 0.5, kBrowse.width() - 1, kBrowse.height() - 1);
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, hover ? QColor(0x4a, 0x5c, 0x88) : QColor(0x34, 0x41, 0x62));
    g.setColorAt(1, hover ? QColor(0x34, 0x43, 0x68) : QColor(0x23, 0x2c, 0x44));
    p.setPen(QPen(hover ? kGold : QColor(0x56, 0x66, 0x8c), 1));
    p.setBrush(g);
    p.drawRoundedRect(r, 4, 4);
    p.setFont(UiFont(12));
    p.setPen(hover ? QColor(0xff, 0xe2, 0xa8) : kText);
    p.drawText(r, Qt::AlignCenter, QStringLiteral("更改"));
    return image;
}

QImage Glyph(const QSize& size, bool close)
{
    QImage image = NewImage(size.width(), size.height(), true);
    QPainter p(&image);
    Prepare(p);
    p.setPen(QPen(QColor(0xc9, 0xd1, 0xe2), 2, Qt::SolidLine, Qt::RoundCap));
    if (close) {
        p.drawLine(QPointF(3.5, 3.5), QPointF(size.width() - 3.5, size.height() - 3.5));
        p.drawLine(QPointF(size.width() - 3.5, 3.5), QPointF(3.5, size.height() - 3.5));
    } else {
        p.drawLine(QPointF(3.5, size.height() / 2.0 + 2), QPointF(size.width() - 3.5, size.height() / 2.0 + 2));
    }
    return image;
}

QImage TextStrip(const QSize& size, bool alpha, const QString& text, QColor color, QColor fill)
{
    QImage image = NewImage(size.width(), size.height(), alpha);
    if (!alpha)
        image.fill(fill);
    QPainter p(&image);
    Prepare(p);
    p.setFont(UiFont(std::min(12, size.height() - 2)));
    p.setPen(color);
    p.drawText(QRectF(image.rect()), Qt::AlignCenter, text);
    return image;
}

QImage Tag(const QSize& size, const QString& text, QColor fill)
{
    QImage image = NewImage(size.width(), size.height(), false);
    image.fill(kBody);
    QPainter p(&image);
    Prepare(p);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(image.rect()), 3, 3);
    p.setFont(UiFont(10, QFont::Bold));
    p.setPen(Qt::white);
    p.drawText(QRectF(image.rect()), Qt::AlignCenter, text);
    return image;
}

QImage PromoCard(const QString& title, const QString& line, QColor tint)
{
    QImage image = NewImage(189, 147, true);
    QPainter p(&image);
    Prepare(p);
    const QRectF r(2, 2, 185, 143);
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, tint);
    g.setColorAt(1, kInk);
    p.setPen(QPen(kGold, 1));
    p.setBrush(g);
    p.drawRoundedRect(r, 8, 8);
    DrawCrest(p, QRectF(70, 14, 48, 60));
    p.setFont(UiFont(16, QFont::Bold));
    p.setPen(kText);
    p.drawText(QRectF(0, 82, 189, 26), Qt::AlignCenter, title);
    p.setFont(UiFont(12));
    p.setPen(kTextDim);
    p.drawText(QRectF(0, 108, 189, 22), Qt::AlignCenter, line);
    return image;
}

QImage Opaque(const QImage& image, QColor under)
{
    QImage out(image.size(), QImage::Format_RGB32);
    out.fill(under);
    QPainter p(&out);
    p.drawImage(0, 0, image);
    return out;
}

bool Save(const QImage& image, const QString& path)
{
    QImage out = image.hasAlphaChannel() ? image.convertToFormat(QImage::Format_ARGB32)
                                         : image.convertToFormat(QImage::Format_RGB32);
    // A fixed resolution and no text chunks keep the files reproducible.
    out.setDotsPerMeterX(3780);
    out.setDotsPerMeterY(3780);
    QImageWriter writer(path, "png");
    writer.setQuality(0);  // smallest file: zlib level 9
    if (!writer.write(out)) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), qPrintable(writer.errorString()));
        return false;
    }
    return true;
}

QString PickFamily()
{
    const QStringList installed = QFontDatabase::families();
    for (const char* name : {"Microsoft YaHei", "WenQuanYi Micro Hei", "Noto Sans CJK SC"}) {
        if (installed.contains(QString::fromLatin1(name)))
            return QString::fromLatin1(name);
    }
    std::fprintf(stderr, "warning: no CJK font installed; Chinese captions will not render\n");
    return QStringLiteral("Sans Serif");
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: zorvath-artwork <resources folder>\n");
        return 2;
    }
    g_family = PickFamily();
    const QDir root(QString::fromLocal8Bit(argv[1]));
    if (!root.mkpath(QStringLiteral("png")) || !root.mkpath(QStringLiteral("icon"))) {
        std::fprintf(stderr, "cannot create folders under %s\n", argv[1]);
        return 1;
    }

    const QImage background = Background();

    const Palette gold{QColor(0xff, 0xb4, 0x4a), QColor(0xe0, 0x6e, 0x1c), QColor(0xff, 0xd8, 0x8c), Qt::white};
    const Palette violet{QColor(0x7a, 0x86, 0xf0), QColor(0x45, 0x4f, 0xb8), QColor(0xa8, 0xb0, 0xff), Qt::white};
    const Palette green{QColor(0x52, 0xd6, 0x84), QColor(0x1f, 0x92, 0x55), QColor(0x9a, 0xf0, 0xbb), Qt::white};
    const Palette cyan{QColor(0x3c, 0xc8, 0xff), QColor(0x16, 0x74, 0xd0), QColor(0x9c, 0xe4, 0xff), Qt::white};
    const Palette outline{kGold, kGold, kGold, QColor(0xf6, 0xdf, 0xb0)};
    const Palette outlineBlue{cyan.top, cyan.top, cyan.top, QColor(0xc8, 0xee, 0xff)};
    const Palette steel{QColor(0x4a, 0x58, 0x7c), QColor(0x2b, 0x34, 0x4d), QColor(0x70, 0x80, 0xa8), kText};
    const QSize face(145, 53);

    std::map<unsigned, QImage> pictures;
    pictures[151] = background;
    pictures[131] = Glyph(QSize(16, 16), true);
    pictures[152] = Glyph(QSize(17, 16), false);
    pictures[138] = ProgressTrack(background);
    pictures[139] = ProgressFill();
    pictures[213] = Opaque(TextStrip(QSize(92, 14), true, QStringLiteral("剩余时间"), kTextDim, kBody), kBody);
    pictures[144] = Crop(background, kStatus);
    pictures[171] = Crop(background, kVersion);
    pictures[155] = FolderField();
    pictures[145] = BrowseButton(background, false);
    pictures[210] = BrowseButton(background, true);

    // Start button faces.
    pictures[186] = Plate(face, gold, Look::Normal, QStringLiteral("开始下载"), 18);
    pictures[184] = Plate(face, gold, Look::Hover, QStringLiteral("开始下载"), 18);
    pictures[141] = Plate(face, gold, Look::Pressed, QStringLiteral("开始下载"), 18);
    pictures[148] = Plate(face, violet, Look::Normal, QStringLiteral("暂停下载"), 18);
    pictures[190] = Plate(face, violet, Look::Hover, QStringLiteral("暂停下载"), 18);
    pictures[149] = Plate(face, violet, Look::Pressed, QStringLiteral("暂停下载"), 18);
    pictures[135] = Plate(face, green, Look::Normal, QStringLiteral("继续下载"), 18);
    pictures[193] = Plate(face, green, Look::Hover, QStringLiteral("继续下载"), 18);
    pictures[136] = Plate(face, green, Look::Pressed, QStringLiteral("继续下载"), 18);
    pictures[195] = Plate(face, cyan, Look::Normal, QStringLiteral("开始安装"), 18);
    pictures[196] = Plate(face, cyan, Look::Hover, QStringLiteral("开始安装"), 18);
    pictures[216] = CheckingPlate();

    // Web address buttons.
    pictures[202] = Plate(face, outline, Look::Normal, QStringLiteral("官方网站"), 16, true);
    pictures[203] = Plate(face, outline, Look::Hover, QStringLiteral("官方网站"), 16, true);
    pictures[214] = Plate(face, outlineBlue, Look::Normal, QStringLiteral("注册账号"), 16, true);
    pictures[215] = Plate(face, outlineBlue, Look::Hover, QStringLiteral("注册账号"), 16, true);

    // Pieces the window does not place today; kept in the same style.
    pictures[134] = PromoCard(QStringLiteral("新区开放"), QStringLiteral("全新服务器 火热开启"), QColor(0x5a, 0x2e, 0x6e));
    pictures[157] = PromoCard(QStringLiteral("新手礼包"), QStringLiteral("注册即领 专属好礼"), QColor(0x1a, 0x5a, 0x7a));
    pictures[156] = TextStrip(QSize(141, 15), true, QStringLiteral("© Zorvath 版权所有"), kTextDim, kBody);
    pictures[197] = TextStrip(QSize(100, 15), true, QStringLiteral("客服中心"), kGold, kBody);
    pictures[143] = Tag(QSize(37, 14), QStringLiteral("新"), QColor(0xe0, 0x4a, 0x3a));
    pictures[176] = Tag(QSize(46, 14), QStringLiteral("推荐"), QColor(0xd9, 0x7a, 0x1e));
    pictures[201] = Opaque(Plate(QSize(69, 23), steel, Look::Normal, QStringLiteral("确定"), 12), kBody);
    pictures[212] = Opaque(Plate(QSize(69, 23), steel, Look::Normal, QStringLiteral("取消"), 12), kBody);
    pictures[204] = Opaque(Plate(QSize(138, 44), gold, Look::Normal, QStringLiteral("开始游戏"), 16), kBody);
    pictures[205] = Opaque(Plate(QSize(138, 44), gold, Look::Hover, QStringLiteral("开始游戏"), 16), kBody);
    pictures[206] = Opaque(Plate(QSize(138, 44), gold, Look::Pressed, QStringLiteral("开始游戏"), 16), kBody);
    pictures[207] = Opaque(Plate(QSize(138, 44), steel, Look::Normal, QStringLiteral("修复客户端"), 15), kBody);
    pictures[208] = Opaque(Plate(QSize(138, 44), steel, Look::Hover, QStringLiteral("修复客户端"), 15), kBody);
    pictures[209] = Opaque(Plate(QSize(138, 44), steel, Look::Pressed, QStringLiteral("修复客户端"), 15), kBody);

    bool ok = true;
    for (const auto& [id, image] : pictures)
        ok = Save(image, root.filePath(QStringLiteral("png/%1.png").arg(id))) && ok;

    for (int size : kIconSizes) {
        QImage icon = NewImage(size, size, true);
        QPainter p(&icon);
        Prepare(p);
        const double margin = size * 0.04;
        DrawCrest(p, QRectF(margin + size * 0.06, margin, size - 2 * margin - size * 0.12, size - 2 * margin));
        p.end();
        ok = Save(icon, root.filePath(QStringLiteral("icon/194-%1.png").arg(size))) && ok;
    }
    // The resource list that embeds all of it (":/png/<id>.png", ":/icon/...").
    QFile qrc(root.filePath(QStringLiteral("artwork.qrc")));
    if (!qrc.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write artwork.qrc\n");
        return 1;
    }
    QByteArray list = "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"/\">\n";
    for (const auto& entry : pictures)
        list += "    <file>png/" + QByteArray::number(entry.first) + ".png</file>\n";
    for (int size : kIconSizes)
        list += "    <file>icon/194-" + QByteArray::number(size) + ".png</file>\n";
    list += "</qresource>\n</RCC>\n";
    qrc.write(list);
    return ok ? 0 : 1;
}
