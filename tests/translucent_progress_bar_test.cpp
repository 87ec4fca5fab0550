#include <climits>
#include <thread>

#include <QtTest>

#include "layeredui/TranslucentProgressBar.h"
#include "support/SampleDialog.h"

namespace {

const QRect kBar(163, 461, 371, 20);
const QRgb kGrey = qRgb(60, 60, 60);
const QRgb kTrack = qRgb(0, 0, 255);
const QRgb kFill = qRgb(255, 0, 0);

}  // namespace

// The bar as the main window sets it up, with solid pictures of the main
// window's sizes (track 371x20, fill 366x16) over a grey background.
class TranslucentProgressBarTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void fill_follows_the_position_data();
    void fill_follows_the_position();
    void set_pos_keeps_to_the_range();
    void set_pos_asks_for_no_frame();
    void hidden_bar_draws_nothing();

private:
    std::unique_ptr<SampleDialog> m_dialog;
    CTranslucentProgressBar* m_bar = nullptr;
};

void TranslucentProgressBarTest::init()
{
    m_dialog = std::make_unique<SampleDialog>();
    m_dialog->SetBackground(SolidImage(740, 525, QColor(kGrey)));
    m_bar = new CTranslucentProgressBar(1006, m_dialog.get());
    m_bar->setGeometry(kBar);
    m_bar->SetImage(CTranslucentProgressBar::ImageTrack, SolidImage(371, 20, QColor(kTrack)));
    m_bar->SetImage(CTranslucentProgressBar::ImageFill, SolidImage(366, 16, QColor(kFill)));
    // The third slot is held but never drawn.
    m_bar->SetImage(2, SolidImage(371, 20, QColor(Qt::green)));
    m_dialog->AddWidget(m_bar);
}

void TranslucentProgressBarTest::cleanup()
{
    m_dialog.reset();
}

void TranslucentProgressBarTest::fill_follows_the_position_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QRectF>("fill");
    QTest::addColumn<int>("lastRedColumn");  // -1: no red at all
    QTest::newRow("0") << 0 << QRectF(165, 463, 0, 18) << -1;
    QTest::newRow("50") << 50 << QRectF(165, 463, 185.5, 18) << 165 + 184;
    // The fill is measured from the bar, not the picture; past the picture's
    // right edge nothing is drawn and the track shows.
    QTest::newRow("100") << 100 << QRectF(165, 463, 371, 18) << 165 + 365;
}

void TranslucentProgressBarTest::fill_follows_the_position()
{
    QFETCH(int, position);
    QFETCH(QRectF, fill);
    QFETCH(int, lastRedColumn);
    m_bar->SetPos(position);
    QCOMPARE(m_bar->Pos(), position);
    QCOMPARE(m_bar->FillRect(), fill);

    const QImage frame = m_dialog->ComposeFrame();
    const int row = kBar.top() + 8;
    // The track covers the bar, the background shows around it.
    QCOMPARE(frame.pixel(kBar.left() - 1, row), kGrey);
    QCOMPARE(frame.pixel(kBar.left(), row), kTrack);
    QCOMPARE(frame.pixel(kBar.left() + 1, kBar.top() + 1), kTrack);  // the 2-pixel inset
    QCOMPARE(frame.pixel(kBar.right(), row), lastRedColumn == kBar.right() ? kFill : kTrack);
    QCOMPARE(frame.pixel(kBar.right() + 1, row), kGrey);
    if (lastRedColumn < 0) {
        for (int x = kBar.left(); x <= kBar.right(); ++x)
            QCOMPARE(frame.pixel(x, row), kTrack);
        return;
    }
    QCOMPARE(frame.pixel(kBar.left() + 2, row), kFill);
    QCOMPARE(frame.pixel(lastRedColumn, row), kFill);
    QCOMPARE(frame.pixel(lastRedColumn + 2, row), kTrack);
    // Unscaled: the fill picture is 16 rows high, so the bar's last rows
    // below it keep the track.
    QCOMPARE(frame.pixel(kBar.left() + 2, kBar.top() + 2 + 15), kFill);
    QCOMPARE(frame.pixel(kBar.left() + 2, kBar.top() + 2 + 16), kTrack);
}

void TranslucentProgressBarTest::set_pos_keeps_to_the_range()
{
    struct Step { int requested; int stored; };
    const Step steps[] = {{42, 42}, {101, 42}, {-1, 42}, {0, 0}, {100, 100}, {INT_MIN, 100}, {7, 7}};
    for (const Step& step : steps) {
        m_bar->SetPos(step.requested);
        QCOMPARE(m_bar->Pos(), step.stored);
    }
    // From another thread, as the download run does.
    CTranslucentProgressBar* bar = m_bar;
    std::thread worker([bar] {
        for (int i = 0; i <= 100; ++i)
            bar->SetPos(i);
        bar->SetPos(150);
    });
    worker.join();
    QCOMPARE(m_bar->Pos(), 100);
}

void TranslucentProgressBarTest::set_pos_asks_for_no_frame()
{
    m_dialog->InitDialog();
    const quint64 frames = m_dialog->FrameCount();
    m_bar->SetPos(60);
    QCoreApplication::processEvents();
    QCOMPARE(m_dialog->FrameCount(), frames);
    // The next timer frame shows it.
    QTRY_VERIFY_WITH_TIMEOUT(m_dialog->FrameCount() > frames, 2000);
    QCOMPARE(m_dialog->Frame().pixel(kBar.left() + 100, kBar.top() + 8), kFill);
}

void TranslucentProgressBarTest::hidden_bar_draws_nothing()
{
    m_bar->SetPos(50);
    m_bar->ShowWidget(false);
    const QImage frame = m_dialog->ComposeFrame();
    for (int x = kBar.left(); x <= kBar.right(); ++x)
        QCOMPARE(frame.pixel(x, kBar.top() + 8), kGrey);
    m_bar->ShowWidget(true);
    QCOMPARE(m_dialog->ComposeFrame().pixel(kBar.left() + 10, kBar.top() + 8), kFill);
}

QTEST_MAIN(TranslucentProgressBarTest)
#include "translucent_progress_bar_test.moc"
