#pragma once

#include <atomic>
#include <memory>
#include <utility>
#include <vector>

#include <QImage>
#include <QMetaObject>
#include <QThread>
#include <QWidget>

class QPainter;
class IRenderListener;

// Base of every skinned widget: a real child widget of the layered dialog that
// takes mouse and keyboard input at its rectangle but never paints itself. It
// draws into the dialog's frame (Draw) and asks its listener for a new frame
// when its look changes.
//
// It owns the pictures in its image slots. Slots, listener, flags and text
// belong to the user-interface thread; the operations marked "any thread"
// hop there with a queued call when called elsewhere, so a frame never sees
// a half-made change.
class CTranslucentWnd : public QWidget {
    Q_OBJECT
public:
    CTranslucentWnd(int controlId, QWidget* parent);
    ~CTranslucentWnd() override;

    int ControlId() const { return m_controlId; }

    // Draws the widget into the frame being composed. User-interface thread.
    virtual void Draw(QPainter& painter) = 0;
    // Re-evaluates the look after a state change; the base asks for a frame.
    virtual void RefreshState();

    void SetListener(IRenderListener* listener) { m_pListener = listener; }
    IRenderListener* Listener() const { return m_pListener; }

    // Shows or hides the widget and its input (any thread). Returns whether it
    // was visible before. A plain hide() only takes away input: the drawing
    // follows m_bVisible, which only this call changes.
    bool ShowWidget(bool show);
    bool IsWidgetVisible() const { return m_bVisible.load(); }
    bool IsWidgetDisabled() const { return m_bDisabled; }

    // Enabling from any thread; the look follows through changeEvent.
    void EnableWidget(bool enabled);

    // The text drawn over the widget (the "window text"), read at every frame.
    // SetText may be called from any thread and asks for no frame.
    void SetText(const QString& text);
    QString Text() const { return m_text; }

    // Image slots. User-interface thread (SetImage hops when called elsewhere).
    void FreeImages();
    void FreeImage(int index);
    void SetImage(int index, std::unique_ptr<QImage> image);
    int ImageCount() const { return static_cast<int>(m_images.size()); }
    const QImage* ImageAt(int index) const;

    // The widget's rectangle in the dialog's frame (client coordinates of the
    // top-level window).
    QRect FrameRect() const;

signals:
    // A completed click (press and release inside). The dialog turns it into
    // a command carrying the control id.
    void Clicked(int controlId);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

    // Runs fn on the user-interface thread: at once when already there,
    // otherwise queued behind earlier requests to this widget.
    template <class Fn>
    void RunOnUiThread(Fn&& fn)
    {
        if (QThread::currentThread() == thread())
            fn();
        else
            QMetaObject::invokeMethod(this, std::forward<Fn>(fn), Qt::QueuedConnection);
    }

    // Called after a slot changed through SetImage, FreeImage or FreeImages.
    virtual void OnImagesChanged() {}

    std::vector<std::unique_ptr<QImage>> m_images;
    IRenderListener* m_pListener = nullptr;
    bool m_bDisabled = false;
    std::atomic<bool> m_bVisible{true};

private:
    void ApplyShow(bool show);

    const int m_controlId;
    QString m_text;
};

// Draws an image guarded: a null or empty image draws nothing, and nothing
// thrown inside the draw leaves the frame.
void DrawImageGuarded(QPainter& painter, const QRectF& target, const QImage* image,
                      const QRectF& source);
void DrawImageGuarded(QPainter& painter, const QRectF& target, const QImage* image);
