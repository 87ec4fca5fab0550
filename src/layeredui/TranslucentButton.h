#pragma once

#include <QColor>
#include <QFont>

#include "layeredui/StateImageIds.h"
#include "layeredui/TranslucentWnd.h"

// A skinned push button: shows one of five state pictures and its text, and
// reports a completed click as Clicked(control id).
//
// Picture choice: hovered -> pressed picture while the left button is down,
// else hover picture; not hovered -> disabled picture when disabled, checked
// picture when checked, else normal. An empty slot falls back to normal.
class CTranslucentButton : public CTranslucentWnd {
    Q_OBJECT
public:
    enum ImageSlot { ImageNormal = 0, ImageDisabled, ImageHover, ImagePressed, ImageChecked, ImageSlots };

    CTranslucentButton(int controlId, QWidget* parent);

    // Replaces all five pictures and sizes the widget to the normal picture.
    // false when the normal id is 0 or its image cannot be made (the button
    // then holds nothing and draws nothing). Any thread: the pictures are
    // decoded on the calling thread and swapped in on the user-interface
    // thread. Asks for no frame.
    bool LoadStateImages(const StateImageIds& ids);

    // "Microsoft YaHei" (or the installed CJK sans-serif) at the given pixel
    // size, regular. User-interface thread.
    void SetTextFont(float pixelSize);
    void SetTextColor(QColor color) { m_textBrush = color; }
    void SetTextAlignment(Qt::Alignment alignment) { m_textFormat = alignment; }
    // A button that shows a path or file name shortens long texts around
    // their last "." (ShortenButtonText). Any other button shows its text as
    // it is, and cuts a text too wide for it at the end with "…", so that
    // no number is ever cut in its middle. Off unless set.
    void SetPathShortening(bool shorten) { m_bPathShortening = shorten; }
    // The text as drawn at the button's present size and font.
    QString ShownText() const;
    QFont TextFont() const { return m_pTextFont; }
    QColor TextColor() const { return m_textBrush; }
    Qt::Alignment TextAlignment() const { return m_textFormat; }

    // A check-box style button toggles m_bChecked on every click inside; a
    // push button (the default) clears it.
    void SetCheckable(bool checkable) { m_bCheckable = checkable; }
    bool IsChecked() const { return m_bChecked; }
    bool IsHovered() const { return m_bHover; }
    bool IsPressed() const { return m_bPressed; }

    // The picture now shown, or nullptr.
    const QImage* CurrentImage() const { return m_pCurrent < 0 ? nullptr : ImageAt(m_pCurrent); }
    int CurrentSlot() const { return m_pCurrent; }

    void Draw(QPainter& painter) override;
    void RefreshState() override;

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void OnImagesChanged() override;

private:
    // Slot index of the picture shown; -1 before pictures are loaded. An index
    // rather than a pointer, so replacing a slot can never leave it dangling.
    int m_pCurrent = -1;
    bool m_bHover = false;
    bool m_bPressed = false;
    bool m_bChecked = false;
    bool m_bTracking = false;
    bool m_bCheckable = false;
    bool m_bPathShortening = false;
    // The left button went down on us (press or the second press of a double
    // click): a release inside then completes a click.
    bool m_bButtonDown = false;
    Qt::Alignment m_textFormat = Qt::AlignLeft | Qt::AlignVCenter;
    QFont m_pTextFont;
    QColor m_textBrush = QColor::fromRgba(0xFF000000);
};

// What the button shows for a long text: 20 or more characters whose last
// "." stands at index 6 or later become the first 10 characters, "...", and
// the text from two characters before that "." on. Anything else is unchanged.
QString ShortenButtonText(const QString& text);

// The family the skin's texts use: "Microsoft YaHei" when installed, else an
// installed CJK sans-serif, else the default sans-serif.
QString UiFontFamily();
