#include <atomic>
#include <cstdio>
#include <thread>

#include <QtTest>

#include <QDir>
#include <QPainter>
#include <QScreen>

#include "mainwindow/StartFaces.h"
#include "layeredui/LoadPngImage.h"
#include "layeredui/TranslucentButton.h"
#include "layeredui/TranslucentProgressBar.h"
#include "support/SampleDialog.h"

namespace {

// A widget that draws a solid rectangle of its colour.
class SolidWidget : public CTranslucentWnd {
public:
    SolidWidget(int id, QWidget* parent, QColor color) : CTranslucentWnd(id, parent), m_color(color) {}
    void Draw(QPainter& painter) override { painter.fillRect(FrameRect(), m_color); }

private:
    QColor m_color;
};

// A button that records on which thread it is drawn and whether two draws
// ever overlap.
class ProbeButton : public CTranslucentButton {
public:
    using CTranslucentButton::CTranslucentButton;
    std::atomic<int> drawsOffUiThread{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> draws{0};

    void Draw(QPainter& painter) override
    {
        if (m_inDraw.exchange(true))
            ++overlaps;
        if (QThread::currentThread() != qApp->thread())
            ++drawsOffUiThread;
        ++draws;
        CTranslucentButton::Draw(painter);
        m_inDraw = false;
    }

private:
    std::atomic<bool> m_inDraw{false};
};

QImage Premultiplied(const QImage& image)
{
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

long ResidentKiB()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace

class TranslucentDialogTest : public QObject {
    Q_OBJECT
private slots:
    void frame_without_widgets_is_the_background();
    void widgets_draw_in_registration_order_when_visible();
    void transparent_pixels_are_cut_from_the_input_shape();
    void widget_change_renders_unless_held();
    void timer_renders_every_100_ms();
    void centred_and_sized_to_the_background();
    void companion_keeps_its_offset_while_moving();
    void missing_background_shows_no_frame();
    void worker_threads_hop_to_the_ui_thread();
    void memory_is_steady_over_10000_frames();
    void sample_window_screenshot();
};

void TranslucentDialogTest::frame_without_widgets_is_the_background()
{
    SampleDialog dialog;
    const QImage frame = dialog.ComposeFrame();
    QCOMPARE(frame.format(), QImage::Format_ARGB32_Premultiplied);
    QCOMPARE(frame.size(), QSize(740, 525));
    QCOMPARE(frame, Premultiplied(*LoadPngImage(151)));
    // The skin's corner is see-through, its body opaque.
    QCOMPARE(qAlpha(frame.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(frame.pixel(739, 524)), 0);
    QCOMPARE(qAlpha(frame.pixel(370, 300)), 255);
}

void TranslucentDialogTest::widgets_draw_in_registration_order_when_visible()
{
    SampleDialog dialog;
    dialog.SetBackground(SolidImage(100, 100, QColor(Qt::black)));
    auto* red = new SolidWidget(1, &dialog, Qt::red);
    auto* blue = new SolidWidget(2, &dialog, Qt::blue);
    red->setGeometry(10, 10, 40, 40);
    blue->setGeometry(30, 30, 40, 40);
    dialog.AddWidget(red);
    dialog.AddWidget(blue);
    QCOMPARE(red->Listener(), static_cast<IRenderListener*>(&dialog));
    QCOMPARE(dialog.FindWidget(2), blue);

    QImage frame = dialog.ComposeFrame();
    QCOMPARE(frame.pixel(15, 15), qRgb(255, 0, 0));
    QCOMPARE(frame.pixel(40, 40), qRgb(0, 0, 255));  // later over earlier
    QCOMPARE(frame.pixel(5, 5), qRgb(0, 0, 0));

    // A plain hide takes input away but not the drawing.
    blue->hide();
    QCOMPARE(dialog.ComposeFrame().pixel(40, 40), qRgb(0, 0, 255));
    QVERIFY(blue->IsWidgetVisible());

    // ShowWidget removes it from the very next frame and reports the old state.
    blue->show();
    QCOMPARE(blue->ShowWidget(false), true);
    QVERIFY(!blue->IsWidgetVisible());
    frame = dialog.ComposeFrame();
    QCOMPARE(frame.pixel(40, 40), qRgb(255, 0, 0));
    QCOMPARE(frame.pixel(60, 60), qRgb(0, 0, 0));
    QCOMPARE(blue->ShowWidget(true), false);
    QCOMPARE(dialog.ComposeFrame().pixel(60, 60), qRgb(0, 0, 255));

    // Registered twice: drawn twice (a half-transparent widget shows it).
    auto* veil = new SolidWidget(3, &dialog, QColor(255, 255, 255, 128));
    veil->setGeometry(80, 80, 10, 10);
    dialog.AddWidget(veil);
    const int once = qRed(dialog.ComposeFrame().pixel(85, 85));
    dialog.AddWidget(veil);
    QVERIFY(qRed(dialog.ComposeFrame().pixel(85, 85)) > once + 40);

    // A widget destroyed first leaves the drawing order.
    delete blue;
    QCOMPARE(dialog.Widgets().size(), std::size_t(3));
    QCOMPARE(dialog.ComposeFrame().pixel(60, 60), qRgb(0, 0, 0));
}

void TranslucentDialogTest::transparent_pixels_are_cut_from_the_input_shape()
{
    SampleDialog dialog;
    dialog.InitDialog();
    const QRegion shape = dialog.mask();
    QVERIFY(!shape.isEmpty());
    const QImage frame = dialog.Frame();
    // Sample a grid: a point takes input exactly where the frame has alpha.
    for (int y = 0; y < frame.height(); y += 7)
        for (int x = 0; x < frame.width(); x += 7)
            QCOMPARE(shape.contains(QPoint(x, y)), qAlpha(frame.pixel(x, y)) != 0);

    // A widget drawn over a transparent part makes that part take input.
    auto* patch = new SolidWidget(7, &dialog, Qt::green);
    patch->setGeometry(0, 0, 5, 5);
    dialog.AddWidget(patch);
    dialog.RenderFrame();
    QVERIFY(dialog.mask().contains(QPoint(2, 2)));
    patch->ShowWidget(false);
    QVERIFY(!dialog.mask().contains(QPoint(2, 2)));
}

void TranslucentDialogTest::widget_change_renders_unless_held()
{
    SampleDialog dialog;
    auto* button = new CTranslucentButton(1000, &dialog);
    dialog.initWidgets = [button](SampleDialog& d) {
        button->LoadStateImages(kStartFace);
        button->move(558, 432);
        d.AddWidget(button);
    };
    dialog.InitDialog();
    QVERIFY(!dialog.m_bHoldRender);
    const quint64 first = dialog.FrameCount();
    QCOMPARE(first, quint64(1));

    button->setEnabled(false);  // disabled picture is empty: no change of look
    QCOMPARE(dialog.FrameCount(), first);
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(button, &enter);
    QCOMPARE(dialog.FrameCount(), first + 1);
    QCOMPARE(dialog.Frame().pixel(558 + 72, 432 + 10),
             Premultiplied(*LoadPngImage(184)).pixel(72, 10));

    dialog.m_bHoldRender = true;
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(button, &leave);
    QCOMPARE(dialog.FrameCount(), first + 1);
}

void TranslucentDialogTest::timer_renders_every_100_ms()
{
    SampleDialog dialog;
    dialog.InitDialog();
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(dialog.FrameCount() >= 4, 5000);
    // Three timer frames after the first cannot come sooner than 300 ms.
    QVERIFY(clock.elapsed() >= 250);
}

void TranslucentDialogTest::centred_and_sized_to_the_background()
{
    SampleDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.size(), QSize(740, 525));
    const QRect area = dialog.screen()->availableGeometry();
    QCOMPARE(dialog.pos(), QPoint(area.left() + (area.width() - 740) / 2, area.top() + (area.height() - 525) / 2));
    QVERIFY(dialog.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(dialog.testAttribute(Qt::WA_TranslucentBackground));
}

void TranslucentDialogTest::companion_keeps_its_offset_while_moving()
{
    SampleDialog dialog;
    int made = 0;
    QPointer<QWidget> companion;
    dialog.makeCompanion = [&] {
        ++made;
        auto* panel = new QWidget(&dialog, Qt::Tool | Qt::FramelessWindowHint);
        panel->resize(311, 162);
        companion = panel;
        return panel;
    };
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(made, 1);
    QVERIFY(companion && companion->isVisible());
    QCOMPARE(dialog.Companion(), companion.data());
    QCOMPARE(companion->pos(), dialog.pos() + QPoint(381, 136));

    for (QPoint to : {QPoint(10, 20), QPoint(20, 20), QPoint(0, 0)}) {
        dialog.move(to);
        QTRY_COMPARE(companion->pos(), dialog.pos() + QPoint(381, 136));
    }
    dialog.hide();
    dialog.show();
    QCOMPARE(made, 1);  // made once, however often the dialog is shown
}

void TranslucentDialogTest::missing_background_shows_no_frame()
{
    SampleDialog dialog(132);
    auto* widget = new SolidWidget(1, &dialog, Qt::red);
    widget->setGeometry(0, 0, 10, 10);
    dialog.AddWidget(widget);
    dialog.InitDialog();
    QCOMPARE(dialog.size(), QSize(0, 0));
    QVERIFY(dialog.ComposeFrame().isNull());
    QCOMPARE(dialog.FrameCount(), quint64(0));
}

void TranslucentDialogTest::worker_threads_hop_to_the_ui_thread()
{
    SampleDialog dialog;
    auto* button = new ProbeButton(1000, &dialog);
    auto* bar = new CTranslucentProgressBar(1006, &dialog);
    dialog.initWidgets = [&](SampleDialog& d) {
        button->LoadStateImages(kCheckingFace);
        button->move(558, 432);
        bar->setGeometry(163, 461, 371, 20);
        bar->SetImage(CTranslucentProgressBar::ImageTrack, LoadPngImage(138));
        bar->SetImage(CTranslucentProgressBar::ImageFill, LoadPngImage(139));
        d.AddWidget(bar);
        d.AddWidget(button);
    };
    dialog.InitDialog();  // the 100 ms timer runs from here on

    // What the check and download runs do to the window, as fast as they can,
    // while the timer keeps rendering on this thread.
    std::atomic<bool> done{false};
    std::thread worker([&] {
        const StateImageIds faces[] = {kStartFace, kPauseFace, kContinueFace, kInstallFace, kCheckingFace};
        for (int i = 0; i < 400; ++i) {
            button->LoadStateImages(faces[i % 5]);
            button->ShowWidget(i % 3 != 0);
            button->EnableWidget(i % 2 == 0);
            button->SetText(QString::number(i));
            bar->SetPos(i % 101);
            dialog.OnWidgetChanged(button);
            dialog.RenderFrame();
        }
        button->LoadStateImages(kInstallFace);
        button->ShowWidget(true);
        button->EnableWidget(true);
        done = true;
    });
    const quint64 before = dialog.FrameCount();
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 60000);
    worker.join();
    QTest::qWait(250);  // drain the queued requests and let the timer tick

    QCOMPARE(button->drawsOffUiThread.load(), 0);
    QCOMPARE(button->overlaps.load(), 0);
    QVERIFY(button->draws.load() > 0);
    QVERIFY(dialog.FrameCount() > before + 100);
    // The last requests win, in order.
    QVERIFY(button->IsWidgetVisible());
    QVERIFY(!button->IsWidgetDisabled());
    QCOMPARE(button->Text(), QStringLiteral("399"));
    QCOMPARE(button->ImageCount(), 5);
    QCOMPARE(*button->ImageAt(CTranslucentButton::ImageNormal), *LoadPngImage(kInstallFace.normal));
    QCOMPARE(*button->ImageAt(CTranslucentButton::ImageHover), *LoadPngImage(kInstallFace.hover));
    QCOMPARE(bar->Pos(), 399 % 101);
}

void TranslucentDialogTest::memory_is_steady_over_10000_frames()
{
    SampleDialog dialog;
    auto* button = new CTranslucentButton(1000, &dialog);
    auto* bar = new CTranslucentProgressBar(1006, &dialog);
    dialog.initWidgets = [&](SampleDialog& d) {
        button->LoadStateImages(kStartFace);
        button->move(558, 432);
        button->SetText(QStringLiteral("状态"));
        bar->setGeometry(163, 461, 371, 20);
        bar->SetImage(CTranslucentProgressBar::ImageTrack, LoadPngImage(138));
        bar->SetImage(CTranslucentProgressBar::ImageFill, LoadPngImage(139));
        d.AddWidget(bar);
        d.AddWidget(button);
    };
    dialog.InitDialog();
    for (int i = 0; i < 500; ++i)
        dialog.RenderFrame();
    QCoreApplication::processEvents();
    const long warm = ResidentKiB();
    for (int i = 0; i < 10000; ++i) {
        bar->SetPos(i % 101);
        dialog.RenderFrame();
        if (i % 100 == 0)
            QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    const long after = ResidentKiB();
    QVERIFY(warm > 0);
    // One frame is 1.5 MB; keeping even a small part of each would show here.
    QVERIFY2(after - warm < 8 * 1024, qPrintable(QStringLiteral("grew %1 KiB").arg(after - warm)));
}

void TranslucentDialogTest::sample_window_screenshot()
{
    // The main window's widgets at their places, with the skin's pictures.
    SampleDialog dialog;
    std::vector<std::unique_ptr<CTranslucentWnd>> keep;
    dialog.initWidgets = [](SampleDialog& d) {
        struct Row { int id; StateImageIds ids; QRect rect; QString text; QRgb color; bool folder; };
        const Row rows[] = {
            {1001, {152, 0, 152, 152, 0}, {676, 100, 17, 16}, {}, 0, false},
            {1002, {131, 0, 131, 131, 0}, {703, 100, 16, 16}, {}, 0, false},
            {1010, {144, 0, 144, 144, 0}, {404, 495, 228, 16}, QStringLiteral("下载速度: 2.35MB/s  已下载: 512MB/1.20GB"), 0xFFFFFFFF, false},
            {1005, {155, 0, 155, 155, 0}, {255, 412, 243, 28}, QStringLiteral(" /home/player/Zorvath/"), 0xFF000000, true},
            {1003, {145, 0, 210, 210, 0}, {501, 416, 45, 20}, {}, 0, false},
            {1000, kPauseFace, {558, 432, 145, 53}, {}, 0, false},
            {1015, {202, 0, 203, 203, 0}, {368, 327, 145, 53}, {}, 0, false},
            {1020, {214, 0, 215, 215, 0}, {554, 327, 145, 53}, {}, 0, false},
            {1019, {171, 0, 171, 171, 0}, {153, 495, 191, 16}, QStringLiteral("版本信息: 1.0.3"), 0xFFFFFFFF, false},
        };
        auto* bar = new CTranslucentProgressBar(1006, &d);
        bar->setGeometry(163, 461, 371, 20);
        bar->SetImage(CTranslucentProgressBar::ImageTrack, LoadPngImage(138));
        bar->SetImage(CTranslucentProgressBar::ImageFill, LoadPngImage(139));
        bar->SetImage(2, LoadPngImage(213));
        bar->SetPos(42);
        for (const Row& row : rows) {
            auto* button = new CTranslucentButton(row.id, &d);
            button->LoadStateImages(row.ids);
            button->setGeometry(row.rect);
            if (!row.text.isEmpty()) {
                button->SetTextFont(12);
                button->SetTextColor(QColor::fromRgba(row.color));
                button->SetText(row.text);
            }
            if (row.folder)
                button->SetTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            d.AddWidget(button);
            if (row.id == 1001)
                d.AddWidget(bar);  // third in the drawing order, as in the window
        }
    };
    dialog.InitDialog();
    const QImage frame = dialog.Frame();
    QCOMPARE(frame.size(), QSize(740, 525));
    QCOMPARE(dialog.Widgets().size(), std::size_t(10));

    // No two widgets overlap.
    for (auto* a : dialog.Widgets())
        for (auto* b : dialog.Widgets())
            QVERIFY2(a == b || !a->FrameRect().intersects(b->FrameRect()),
                     qPrintable(QStringLiteral("%1 overlaps %2").arg(a->ControlId()).arg(b->ControlId())));

    QVERIFY(QDir().mkpath(QStringLiteral(ZORVATH_ARTIFACTS_DIR)));
    const QString path = QStringLiteral(ZORVATH_ARTIFACTS_DIR "/sample_dialog.png");
    QVERIFY(frame.save(path, "PNG"));
    // The same frame over a light desktop, to see the translucent outline.
    QImage desktop(frame.size(), QImage::Format_ARGB32_Premultiplied);
    desktop.fill(QColor(0xd0, 0xd8, 0xe0));
    QPainter(&desktop).drawImage(0, 0, frame);
    QVERIFY(desktop.save(QStringLiteral(ZORVATH_ARTIFACTS_DIR "/sample_dialog_on_desktop.png"), "PNG"));

    // The window icon comes in several sizes.
    const QIcon icon = LoadIconResource(194);
    QVERIFY(!icon.isNull());
    QVERIFY(icon.availableSizes().contains(QSize(16, 16)));
    QVERIFY(icon.availableSizes().contains(QSize(256, 256)));
    QVERIFY(LoadIconResource(195).isNull());

    QImage reread(path);
    QCOMPARE(reread.size(), frame.size());
    QCOMPARE(qAlpha(reread.pixel(0, 0)), 0);
}

QTEST_MAIN(TranslucentDialogTest)
#include "translucent_dialog_test.moc"
