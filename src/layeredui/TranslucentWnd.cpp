#include "layeredui/TranslucentWnd.h"

#include <QEvent>
#include <QPainter>

#include "layeredui/RenderListener.h"

CTranslucentWnd::CTranslucentWnd(int controlId, QWidget* parent)
    : QWidget(parent), m_controlId(controlId)
{
    // The dialog's frame is the only thing ever shown; the widget's own
    // surface must stay see-through.
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
}

CTranslucentWnd::~CTranslucentWnd()
{
    FreeImages();
}

void CTranslucentWnd::RefreshState()
{
    if (m_pListener)
        m_pListener->OnWidgetChanged(this);
}

bool CTranslucentWnd::ShowWidget(bool show)
{
    const bool wasVisible = m_bVisible.load();
    RunOnUiThread([this, show] { ApplyShow(show); });
    return wasVisible;
}

void CTranslucentWnd::ApplyShow(bool show)
{
    setVisible(show);
    // isHidden() follows the explicit request even while the dialog itself is
    // not shown yet, like the control's own visible style bit.
    const bool visible = !isHidden();
    if (visible != m_bVisible.load()) {
        m_bVisible.store(visible);
        if (m_pListener)
            m_pListener->OnWidgetChanged(this);
    }
}

void CTranslucentWnd::EnableWidget(bool enabled)
{
    RunOnUiThread([this, enabled] { setEnabled(enabled); });
}

void CTranslucentWnd::SetText(const QString& text)
{
    RunOnUiThread([this, text] { m_text = text; });
}

void CTranslucentWnd::FreeImages()
{
    for (auto& image : m_images)
        image.reset();
    OnImagesChanged();
}

void CTranslucentWnd::FreeImage(int index)
{
    if (index < 0 || index >= ImageCount() || !m_images[index])
        return;
    m_images[index].reset();
    OnImagesChanged();
}

void CTranslucentWnd::SetImage(int index, std::unique_ptr<QImage> image)
{
    // std::function-style queued calls need a copyable functor.
    auto shared = std::make_shared<std::unique_ptr<QImage>>(std::move(image));
    RunOnUiThread([this, index, shared] {
        if (index < 0 || index >= ImageCount())
            return;
        m_images[index] = std::move(*shared);
        OnImagesChanged();
    });
}

const QImage* CTranslucentWnd::ImageAt(int index) const
{
    if (index < 0 || index >= ImageCount())
        return nullptr;
    return m_images[index].get();
}

QRect CTranslucentWnd::FrameRect() const
{
    const QWidget* top = window();
    if (top == this)
        return rect();
    return QRect(mapTo(top, QPoint(0, 0)), size());
}

void CTranslucentWnd::paintEvent(QPaintEvent*)
{
    // Never painted directly: the dialog draws us into its frame.
}

void CTranslucentWnd::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::EnabledChange)
        return;
    const bool disabled = !isEnabled();
    if (disabled != m_bDisabled) {
        m_bDisabled = disabled;
        RefreshState();
    }
}

void DrawImageGuarded(QPainter& painter, const QRectF& target, const QImage* image,
                      const QRectF& source)
{
    if (!image || image->isNull() || target.isEmpty() || source.isEmpty())
        return;
    try {
        painter.drawImage(target, *image, source);
    } catch (...) {
        // A picture that fails to draw is left out; the frame goes on.
    }
}

void DrawImageGuarded(QPainter& painter, const QRectF& target, const QImage* image)
{
    if (!image)
        return;
    DrawImageGuarded(painter, target, image, QRectF(image->rect()));
}
