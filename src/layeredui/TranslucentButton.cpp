#include "layeredui/TranslucentButton.h"

#include <array>

#include <QEnterEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

#include "layeredui/LoadPngImage.h"

QString UiFontFamily()
{
    static const QString family = [] {
        const QStringList installed = QFontDatabase::families();
        for (const char* name : {"Microsoft YaHei", "WenQuanYi Micro Hei", "Noto Sans CJK SC",
                                 "Source Han Sans SC", "WenQuanYi Zen Hei"}) {
            if (installed.contains(QString::fromLatin1(name)))
                return QString::fromLatin1(name);
        }
        QFont generic;
        generic.setStyleHint(QFont::SansSerif);
        return generic.defaultFamily();
    }();
    return family;
}

QString ShortenButtonText(const QString& text)
{
    if (text.size() < 20)
        return text;
    const qsizetype dot = text.lastIndexOf(QLatin1Char('.'));
    if (dot < 6)
        return text;
    return text.left(10) + QStringLiteral("...") + text.mid(dot - 2);
}

QString CTranslucentButton::ShownText() const
{
    const QString text = Text();
    if (m_bPathShortening)
        return ShortenButtonText(text);
    return QFontMetrics(m_pTextFont).elidedText(text, Qt::ElideRight, width());
}

CTranslucentButton::CTranslucentButton(int controlId, QWidget* parent)
    : CTranslucentWnd(controlId, parent)
{
    m_images.resize(ImageSlots);
    // "Arial" 12 pt, as 16 px at 96 dpi so the look does not depend on the
    // screen's resolution.
    m_pTextFont = QFont(QStringLiteral("Arial"));
    m_pTextFont.setPixelSize(16);
    setCursor(Qt::PointingHandCursor);
}

bool CTranslucentButton::LoadStateImages(const StateImageIds& ids)
{
    // Decode here (any thread), then swap on the user-interface thread so a
    // frame never draws a picture that is being released.
    struct Loaded {
        std::array<std::unique_ptr<QImage>, ImageSlots> images;
        bool ok = false;
    };
    auto loaded = std::make_shared<Loaded>();
    if (ids.normal != 0)
        loaded->images[ImageNormal] = LoadPngImage(ids.normal);
    loaded->ok = loaded->images[ImageNormal] != nullptr;
    if (loaded->ok) {
        const std::pair<unsigned, int> rest[] = {{ids.hover, ImageHover},
                                                 {ids.pressed, ImagePressed},
                                                 {ids.disabled, ImageDisabled},
                                                 {ids.checked, ImageChecked}};
        for (const auto& [id, slot] : rest) {
            if (id != 0)
                loaded->images[slot] = LoadPngImage(id);
        }
    }
    RunOnUiThread([this, loaded] {
        for (auto& image : m_images)
            image.reset();
        if (!loaded->ok) {
            m_pCurrent = -1;
            return;
        }
        for (int i = 0; i < ImageSlots; ++i)
            m_images[i] = std::move(loaded->images[i]);
        m_pCurrent = ImageNormal;
        resize(m_images[ImageNormal]->size());
    });
    return loaded->ok;
}

void CTranslucentButton::SetTextFont(float pixelSize)
{
    QFont font(UiFontFamily());
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(QFont::Normal);
    font.setPixelSize(qMax(1, qRound(pixelSize)));
    m_pTextFont = font;
}

void CTranslucentButton::RefreshState()
{
    const int before = m_pCurrent;
    int slot;
    if (m_bHover)
        slot = m_bPressed ? ImagePressed : ImageHover;
    else if (m_bDisabled)
        slot = ImageDisabled;
    else if (m_bChecked)
        slot = ImageChecked;
    else
        slot = ImageNormal;
    if (!m_images[slot])
        slot = ImageNormal;
    // Without a normal picture there is nothing to show in any state.
    m_pCurrent = m_images[ImageNormal] ? slot : -1;
    if (m_pCurrent != before && m_pListener)
        CTranslucentWnd::RefreshState();
}

void CTranslucentButton::OnImagesChanged()
{
    if (m_pCurrent >= 0 && !m_images[m_pCurrent])
        m_pCurrent = m_images[ImageNormal] ? ImageNormal : -1;
    else if (m_pCurrent < 0 && m_images[ImageNormal])
        m_pCurrent = ImageNormal;
}

void CTranslucentButton::Draw(QPainter& painter)
{
    const QImage* current = CurrentImage();
    if (!current)
        return;
    const QRectF target(FrameRect());
    DrawImageGuarded(painter, target, current);

    const QString text = Text();
    if (text.isEmpty())
        return;
    painter.save();
    painter.setClipRect(target);
    painter.setFont(m_pTextFont);
    painter.setPen(m_textBrush);
    if (m_bPathShortening)
        painter.drawText(target, static_cast<int>(m_textFormat) | Qt::TextWordWrap, ShortenButtonText(text));
    else
        painter.drawText(target, static_cast<int>(m_textFormat), ShownText());
    painter.restore();
}

void CTranslucentButton::enterEvent(QEnterEvent* event)
{
    CTranslucentWnd::enterEvent(event);
    m_bTracking = true;
    m_bHover = true;
    RefreshState();
}

void CTranslucentButton::leaveEvent(QEvent* event)
{
    CTranslucentWnd::leaveEvent(event);
    m_bHover = false;
    m_bTracking = false;
    RefreshState();
}

void CTranslucentButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        CTranslucentWnd::mousePressEvent(event);
        return;
    }
    m_bPressed = true;
    m_bButtonDown = true;
    RefreshState();
    event->accept();
}

void CTranslucentButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click still completes a click on release,
    // but does not show the pressed picture.
    if (event->button() == Qt::LeftButton)
        m_bButtonDown = true;
    event->accept();
}

void CTranslucentButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        CTranslucentWnd::mouseReleaseEvent(event);
        return;
    }
    m_bPressed = false;
    const bool inside = rect().contains(event->position().toPoint());
    if (inside)
        m_bChecked = m_bCheckable ? !m_bChecked : false;
    else
        m_bHover = false;
    RefreshState();
    const bool click = inside && m_bButtonDown && isEnabled();
    m_bButtonDown = false;
    event->accept();
    if (click)
        emit Clicked(ControlId());
}

void CTranslucentButton::changeEvent(QEvent* event)
{
    CTranslucentWnd::changeEvent(event);
    // The hand shows only over buttons that can be clicked; disabled ones
    // (the status and version lines) keep the ordinary pointer.
    if (event->type() == QEvent::EnabledChange) {
        if (isEnabled())
            setCursor(Qt::PointingHandCursor);
        else
            unsetCursor();
    }
}
