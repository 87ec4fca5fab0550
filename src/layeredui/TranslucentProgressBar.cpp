#include "layeredui/TranslucentProgressBar.h"

#include <QPainter>

CTranslucentProgressBar::CTranslucentProgressBar(int controlId, QWidget* parent)
    : CTranslucentWnd(controlId, parent)
{
    m_images.resize(ImageSlots);
    m_pTextFont = QFont(QStringLiteral("Arial"));
    m_pTextFont.setPixelSize(16);
}

void CTranslucentProgressBar::SetPos(int position)
{
    if (position < m_rangeLow || position > m_rangeHigh)
        return;
    m_position.store(position, std::memory_order_relaxed);
}

QRectF CTranslucentProgressBar::FillRect() const
{
    const QRect bar = FrameRect();
    // The position is not reduced by the low end: with 0..100 it is percent.
    const double fraction = double(Pos()) / double(m_rangeHigh - m_rangeLow);
    return QRectF(bar.left() + 2, bar.top() + 2, bar.width() * fraction, bar.height() - 2);
}

void CTranslucentProgressBar::Draw(QPainter& painter)
{
    const QRect bar = FrameRect();
    // Neither picture is scaled: a larger track is cropped to the bar, and the
    // fill shows its left part only. Where the source reaches past the picture
    // nothing is drawn.
    DrawImageGuarded(painter, QRectF(bar), ImageAt(ImageTrack), QRectF(0, 0, bar.width(), bar.height()));
    const QRectF fill = FillRect();
    DrawImageGuarded(painter, fill, ImageAt(ImageFill), QRectF(0, 0, fill.width(), fill.height()));

    const QString text = Text();
    if (text.isEmpty())
        return;
    painter.save();
    painter.setFont(m_pTextFont);
    painter.setPen(m_textBrush);
    painter.drawText(QRectF(bar), static_cast<int>(m_textFormat), text);
    painter.restore();
}
