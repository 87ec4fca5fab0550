#pragma once

#include <atomic>

#include <QColor>
#include <QFont>

#include "layeredui/TranslucentWnd.h"

// The skinned progress bar: a track picture over its whole rectangle and, on
// top, the left part of a fill picture whose width follows the position, one
// picture pixel per frame pixel. The third slot is kept but never drawn.
//
// SetPos may be called from any thread (the download thread does); the
// position is an atomic and a new one shows at the dialog's next timer frame.
class CTranslucentProgressBar : public CTranslucentWnd {
    Q_OBJECT
public:
    enum ImageSlot { ImageTrack = 0, ImageFill = 1, ImageSlots = 3 };

    CTranslucentProgressBar(int controlId, QWidget* parent);

    // Stores the position when m_rangeLow <= position <= m_rangeHigh and
    // ignores it otherwise. Asks for no frame.
    void SetPos(int position);
    int Pos() const { return m_position.load(std::memory_order_relaxed); }

    // The filled part of the frame for the current position, in frame
    // coordinates (empty at position 0).
    QRectF FillRect() const;

    void Draw(QPainter& painter) override;

private:
    const int m_rangeLow = 0;
    const int m_rangeHigh = 100;
    std::atomic<int> m_position{0};
    Qt::Alignment m_textFormat = Qt::AlignCenter;
    QFont m_pTextFont;
    QColor m_textBrush = QColor::fromRgba(0xFF000000);
};
