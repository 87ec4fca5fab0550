#include "layeredui/TranslucentDialog.h"

#include <algorithm>
#include <cstring>

#include <QBitmap>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QThread>
#include <QWindow>

#include "layeredui/LoadPngImage.h"
#include "layeredui/TranslucentWnd.h"

CTranslucentDialog::CTranslucentDialog(unsigned backgroundId, QWidget* parent)
    : QDialog(parent), m_pBackground(LoadPngImage(backgroundId))
{
    PrepareBackground();
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    m_renderTimer.setInterval(100);
    connect(&m_renderTimer, &QTimer::timeout, this, &CTranslucentDialog::RenderFrame);
}

CTranslucentDialog::~CTranslucentDialog()
{
    m_renderTimer.stop();
    delete m_pCompanion.data();
    // The widgets belong to the derived dialog; members of it are already
    // destroyed here, so they must not be touched.
    m_widgets.clear();
}

void CTranslucentDialog::AddWidget(CTranslucentWnd* widget)
{
    if (!widget)
        return;
    widget->SetListener(this);
    m_widgets.push_back(widget);
    connect(widget, &CTranslucentWnd::Clicked, this, &CTranslucentDialog::HandleWidgetClicked,
            Qt::UniqueConnection);
    // A widget destroyed before the dialog leaves the drawing order instead of
    // leaving a dangling entry behind.
    connect(widget, &QObject::destroyed, this, [this, widget] {
        std::erase(m_widgets, widget);
    });
}

CTranslucentWnd* CTranslucentDialog::FindWidget(int controlId) const
{
    for (CTranslucentWnd* widget : m_widgets) {
        if (widget->ControlId() == controlId)
            return widget;
    }
    return nullptr;
}

void CTranslucentDialog::HandleWidgetClicked(int controlId)
{
    emit Command(controlId);
    OnCommand(controlId);
}

void CTranslucentDialog::OnCommand(int) {}

void CTranslucentDialog::OnWidgetChanged(CTranslucentWnd*)
{
    // The whole frame is recomposed whatever changed.
    if (!m_bHoldRender)
        RenderFrame();
}

void CTranslucentDialog::SetBackground(std::unique_ptr<QImage> background)
{
    m_pBackground = std::move(background);
    PrepareBackground();
    if (m_bInitialised && m_pBackground)
        setFixedSize(m_pBackground->size());
}

void CTranslucentDialog::PrepareBackground()
{
    // Drawn every frame: keep it in the frame's own pixel format so drawing is
    // a straight blend with no conversion.
    if (m_pBackground && !m_pBackground->isNull()
        && m_pBackground->format() != QImage::Format_ARGB32_Premultiplied)
        m_pBackground->convertTo(QImage::Format_ARGB32_Premultiplied);
}

QImage CTranslucentDialog::ComposeFrame() const
{
    if (!m_pBackground || m_pBackground->isNull())
        return QImage();
    QImage frame(m_pBackground->size(), QImage::Format_ARGB32_Premultiplied);
    if (frame.isNull())
        return QImage();
    frame.fill(Qt::transparent);
    QPainter painter(&frame);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    DrawImageGuarded(painter, QRectF(frame.rect()), m_pBackground.get());
    for (CTranslucentWnd* widget : m_widgets) {
        if (!widget->IsWidgetVisible())
            continue;
        try {
            widget->Draw(painter);
        } catch (...) {
            // A widget never stops the frame.
        }
    }
    painter.end();
    return frame;
}

void CTranslucentDialog::RenderFrame()
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, &CTranslucentDialog::RenderFrame, Qt::QueuedConnection);
        return;
    }
    // A widget's Draw could, in principle, report a change; that must not
    // start a second frame inside this one.
    if (m_bRendering)
        return;
    m_bRendering = true;
    QImage frame = ComposeFrame();
    m_bRendering = false;
    if (frame.isNull())
        return;
    m_frame = std::move(frame);
    ++m_frameCount;
    UpdateInputMask();
    update();
}

void CTranslucentDialog::UpdateInputMask()
{
    // Input shape = pixels with any alpha, packed one bit a pixel. Rebuilt
    // only when it changes, which is rare: widgets mostly change inside opaque
    // parts of the background.
    const int w = m_frame.width();
    const int h = m_frame.height();
    const int stride = (w + 7) / 8;
    QByteArray bits(qsizetype(stride) * h, '\0');
    for (int y = 0; y < h; ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(m_frame.constScanLine(y));
        auto* dst = reinterpret_cast<uchar*>(bits.data()) + qsizetype(y) * stride;
        for (int x = 0; x < w; ++x) {
            if (qAlpha(src[x]) != 0)
                dst[x >> 3] |= uchar(0x80 >> (x & 7));
        }
    }
    if (bits == m_inputShape && !m_inputShape.isEmpty())
        return;
    m_inputShape = bits;
    QImage shape(w, h, QImage::Format_Mono);
    shape.setColor(0, qRgb(255, 255, 255));
    shape.setColor(1, qRgb(0, 0, 0));
    for (int y = 0; y < h; ++y)
        memcpy(shape.scanLine(y), bits.constData() + qsizetype(y) * stride, size_t(stride));
    setMask(QRegion(QBitmap::fromImage(shape, Qt::MonoOnly)));
}

void CTranslucentDialog::InitDialog()
{
    if (m_bInitialised)
        return;
    m_bInitialised = true;
    OnCreate();
    OnInitDialog();
}

void CTranslucentDialog::setVisible(bool visible)
{
    if (visible && !m_bInitialised)
        InitDialog();
    QDialog::setVisible(visible);
    if (visible && m_pCompanion)
        PlaceCompanion();
}

void CTranslucentDialog::OnCreate()
{
    const QSize size = m_pBackground && !m_pBackground->isNull() ? m_pBackground->size() : QSize(0, 0);
    QPoint position = pos();
    if (m_bCenterOnCreate) {
        const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
        if (screen) {
            const QRect area = screen->availableGeometry();
            // Integer division truncates toward zero, as the centring rule wants.
            position = QPoint(area.left() + (area.width() - size.width()) / 2,
                              area.top() + (area.height() - size.height()) / 2);
        }
    }
    m_pCompanion = CreateCompanionDialog();
    if (m_pCompanion)
        m_pCompanion->show();
    setFixedSize(size);
    move(position);
    PlaceCompanion();
}

void CTranslucentDialog::OnInitDialog()
{
    InitWidgets();
    RenderFrame();
    m_renderTimer.start();
}

void CTranslucentDialog::PlaceCompanion()
{
    if (!m_pCompanion)
        return;
    // A companion that is its own window follows our client origin on screen;
    // one embedded as a child simply sits at the offset.
    if (m_pCompanion->isWindow())
        m_pCompanion->move(pos() + m_companionOffset);
    else
        m_pCompanion->move(m_companionOffset);
}

void CTranslucentDialog::moveEvent(QMoveEvent* event)
{
    QDialog::moveEvent(event);
    PlaceCompanion();
}

void CTranslucentDialog::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, m_frame);
}

void CTranslucentDialog::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_bDragMove) {
        if (QWindow* window = windowHandle())
            window->startSystemMove();
        event->accept();
        return;
    }
    QDialog::mousePressEvent(event);
}
