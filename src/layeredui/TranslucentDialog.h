#pragma once

#include <memory>
#include <vector>

#include <QDialog>
#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QTimer>

#include "layeredui/RenderListener.h"

class CTranslucentWnd;

// A frameless top-level dialog with per-pixel alpha, drawn only from its
// background picture and the widgets registered with it. Each frame is
// composed off-screen into a premultiplied ARGB image of the background's
// size and then shown as the window's whole content; fully transparent pixels
// are cut out of the window's input shape, so clicks there reach what lies
// below. A frame is made every 100 ms and at once when a widget reports a
// change (unless m_bHoldRender).
//
// The dialog owns its background and its companion window; the widgets
// belong to the derived dialog. Everything runs on the user-interface thread:
// frame requests from other threads are queued there, so two frames are never
// composed at once.
class CTranslucentDialog : public QDialog, public IRenderListener {
    Q_OBJECT
public:
    // The background is the skin picture with that id (151 for the main
    // window); its size is the window's and the frame's size.
    explicit CTranslucentDialog(unsigned backgroundId = 151, QWidget* parent = nullptr);
    ~CTranslucentDialog() override;

    // Appends the widget to the drawing order (later ones are drawn on top)
    // and makes this dialog its listener; its clicks arrive as OnCommand with
    // its control id. Renders nothing.
    void AddWidget(CTranslucentWnd* widget);
    const std::vector<CTranslucentWnd*>& Widgets() const { return m_widgets; }
    // The first registered widget with that control id, or nullptr.
    CTranslucentWnd* FindWidget(int controlId) const;

    // Composes a frame and shows it. Safe to call from any thread: elsewhere
    // the request is queued to the user-interface thread.
    void RenderFrame();
    // Composes a frame without showing it (user-interface thread). A null
    // image when there is no background or it is empty.
    QImage ComposeFrame() const;
    // The frame last shown.
    QImage Frame() const { return m_frame; }
    // Frames shown so far.
    quint64 FrameCount() const { return m_frameCount; }

    void OnWidgetChanged(CTranslucentWnd* widget) override;

    // Runs the window creation and initialisation steps once: companion,
    // centring, size, InitWidgets, first frame, render timer. Showing the
    // dialog does this by itself; tests call it to work without a screen.
    void InitDialog();
    bool IsInitialised() const { return m_bInitialised; }

    // Replaces the background (user-interface thread, before the window is
    // shown); the window takes its size.
    void SetBackground(std::unique_ptr<QImage> background);
    const QImage* Background() const { return m_pBackground.get(); }

    QWidget* Companion() const { return m_pCompanion.data(); }
    QPoint CompanionOffset() const { return m_companionOffset; }
    void SetCompanionOffset(QPoint offset) { m_companionOffset = offset; }

    void setVisible(bool visible) override;

    bool m_bDragMove = true;
    bool m_bCenterOnCreate = true;
    bool m_bHoldRender = false;

signals:
    // A registered widget was clicked; emitted before OnCommand runs.
    void Command(int controlId);

protected:
    // The companion window (the web page panel), constructed but not shown,
    // or nullptr for none. Called once while the window is being created.
    virtual QWidget* CreateCompanionDialog() = 0;
    // Sets up, places and registers the widgets. Called once, before the
    // first frame.
    virtual void InitWidgets() = 0;
    // A registered widget's click, by control id. User-interface thread.
    virtual void OnCommand(int controlId);

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void PrepareBackground();
    void OnCreate();
    void OnInitDialog();
    void PlaceCompanion();
    void UpdateInputMask();
    void HandleWidgetClicked(int controlId);

    std::unique_ptr<QImage> m_pBackground;
    QPointer<QWidget> m_pCompanion;
    QPoint m_companionOffset{381, 136};
    std::vector<CTranslucentWnd*> m_widgets;
    QTimer m_renderTimer;
    QImage m_frame;
    QByteArray m_inputShape;
    quint64 m_frameCount = 0;
    bool m_bInitialised = false;
    bool m_bRendering = false;
};
