#include <QtTest>

#include <QFontMetrics>
#include <QMouseEvent>

#include "layeredui/LoadPngImage.h"
#include "layeredui/TranslucentButton.h"
#include "support/SampleDialog.h"

namespace {

// Five distinct ids so every slot can be told apart.
constexpr StateImageIds kAllSlots{186, 135, 184, 141, 148};
constexpr int kId = 1000;

void Enter(QWidget* w)
{
    QEnterEvent event(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(w, &event);
}

void Leave(QWidget* w)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(w, &event);
}

void Mouse(QWidget* w, QEvent::Type type, QPoint at)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), QPointF(at), QPointF(at), Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &event);
}

}  // namespace

class TranslucentButtonTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void state_picture_follows_the_flags_data();
    void state_picture_follows_the_flags();
    void empty_slots_fall_back_to_normal();
    void load_state_images_sizes_the_button_and_replaces_all_slots();
    void load_state_images_without_normal_draws_nothing();
    void click_inside_reaches_the_dialog_by_control_id();
    void release_outside_is_no_click();
    void second_press_of_double_click_is_not_pressed();
    void checkable_button_toggles_on_each_click();
    void text_shortening_data();
    void text_shortening();
    void status_texts_are_cut_at_the_end_only_data();
    void status_texts_are_cut_at_the_end_only();
    void text_is_drawn_in_a_cjk_font();

private:
    std::unique_ptr<SampleDialog> m_dialog;
    CTranslucentButton* m_button = nullptr;
};

void TranslucentButtonTest::init()
{
    m_dialog = std::make_unique<SampleDialog>();
    m_button = new CTranslucentButton(kId, m_dialog.get());
    m_button->move(100, 200);
    QVERIFY(m_button->LoadStateImages(kAllSlots));
    m_dialog->AddWidget(m_button);
}

void TranslucentButtonTest::cleanup()
{
    m_dialog.reset();
    m_button = nullptr;
}

void TranslucentButtonTest::state_picture_follows_the_flags_data()
{
    QTest::addColumn<bool>("hover");
    QTest::addColumn<bool>("pressed");
    QTest::addColumn<bool>("disabled");
    QTest::addColumn<int>("slot");
    using B = CTranslucentButton;
    QTest::newRow("normal") << false << false << false << int(B::ImageNormal);
    QTest::newRow("hover") << true << false << false << int(B::ImageHover);
    QTest::newRow("pressed while hovered") << true << true << false << int(B::ImagePressed);
    QTest::newRow("pressed, pointer gone") << false << true << false << int(B::ImageNormal);
    QTest::newRow("disabled") << false << false << true << int(B::ImageDisabled);
    QTest::newRow("hover beats disabled") << true << false << true << int(B::ImageHover);
}

void TranslucentButtonTest::state_picture_follows_the_flags()
{
    QFETCH(bool, hover);
    QFETCH(bool, pressed);
    QFETCH(bool, disabled);
    QFETCH(int, slot);
    if (hover)
        Enter(m_button);
    if (pressed)
        Mouse(m_button, QEvent::MouseButtonPress, QPoint(5, 5));
    if (pressed && !hover)
        Leave(m_button);
    if (disabled)
        m_button->setEnabled(false);
    QCOMPARE(m_button->CurrentSlot(), slot);
    QCOMPARE(m_button->CurrentImage(), m_button->ImageAt(slot));

    // The frame shows exactly that picture at the button's place.
    const QImage frame = m_dialog->ComposeFrame();
    const QImage expected = *m_button->ImageAt(slot);
    const QPoint probe(72, 26);  // inside the plate, away from its glow
    QCOMPARE(frame.pixel(m_button->pos() + probe),
             expected.convertToFormat(QImage::Format_ARGB32_Premultiplied).pixel(probe));
}

void TranslucentButtonTest::empty_slots_fall_back_to_normal()
{
    QVERIFY(m_button->LoadStateImages({186, 0, 0, 0, 0}));
    Enter(m_button);
    QCOMPARE(m_button->CurrentSlot(), int(CTranslucentButton::ImageNormal));
    Mouse(m_button, QEvent::MouseButtonPress, QPoint(5, 5));
    QCOMPARE(m_button->CurrentSlot(), int(CTranslucentButton::ImageNormal));
    Mouse(m_button, QEvent::MouseButtonRelease, QPoint(5, 5));
    Leave(m_button);
    m_button->setEnabled(false);
    QCOMPARE(m_button->CurrentSlot(), int(CTranslucentButton::ImageNormal));

    // A checked push button with a checked picture shows it when not hovered.
    QVERIFY(m_button->LoadStateImages(kAllSlots));
    m_button->setEnabled(true);
    m_button->SetCheckable(true);
    Enter(m_button);
    Mouse(m_button, QEvent::MouseButtonPress, QPoint(5, 5));
    Mouse(m_button, QEvent::MouseButtonRelease, QPoint(5, 5));
    Leave(m_button);
    QCOMPARE(m_button->CurrentSlot(), int(CTranslucentButton::ImageChecked));
}

void TranslucentButtonTest::load_state_images_sizes_the_button_and_replaces_all_slots()
{
    QCOMPARE(m_button->size(), QSize(145, 53));
    std::vector<const QImage*> before;
    for (int i = 0; i < m_button->ImageCount(); ++i)
        before.push_back(m_button->ImageAt(i));

    QVERIFY(m_button->LoadStateImages(kAllSlots));
    QCOMPARE(m_button->ImageCount(), 5);
    for (int i = 0; i < 5; ++i) {
        QVERIFY(m_button->ImageAt(i));
        QVERIFY2(m_button->ImageAt(i) != before[i], "a picture of the first load is still held");
    }
    // Loading replaces the look whatever the flags: back to normal.
    QCOMPARE(m_button->CurrentSlot(), int(CTranslucentButton::ImageNormal));

    QVERIFY(m_button->LoadStateImages({131, 0, 0, 0, 0}));
    QCOMPARE(m_button->size(), QSize(16, 16));
    QCOMPARE(m_button->ImageCount(), 5);
    QVERIFY(!m_button->ImageAt(CTranslucentButton::ImageHover));
}

void TranslucentButtonTest::load_state_images_without_normal_draws_nothing()
{
    const QImage bare = m_dialog->Background()->convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QVERIFY(!m_button->LoadStateImages({0, 135, 184, 141, 148}));
    QCOMPARE(m_button->CurrentImage(), nullptr);
    for (int i = 0; i < 5; ++i)
        QVERIFY(!m_button->ImageAt(i));
    m_button->SetText(QStringLiteral("text"));
    QCOMPARE(m_dialog->ComposeFrame(), bare);
    Enter(m_button);
    QCOMPARE(m_button->CurrentImage(), nullptr);

    // A missing picture id in the normal slot is an empty picture: 0x0.
    QVERIFY(m_button->LoadStateImages({132, 0, 0, 0, 0}));
    QCOMPARE(m_button->size(), QSize(0, 0));
}

void TranslucentButtonTest::click_inside_reaches_the_dialog_by_control_id()
{
    QSignalSpy spy(m_dialog.get(), &CTranslucentDialog::Command);
    Enter(m_button);
    Mouse(m_button, QEvent::MouseButtonPress, QPoint(10, 10));
    QCOMPARE(m_button->CurrentSlot(), int(CTranslucentButton::ImagePressed));
    Mouse(m_button, QEvent::MouseButtonRelease, QPoint(10, 10));
    QCOMPARE(m_button->CurrentSlot(), int(CTranslucentButton::ImageHover));
    QCOMPARE(m_dialog->commands, std::vector<int>{kId});
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), kId);
    QVERIFY(!m_button->IsChecked());
}

void TranslucentButtonTest::release_outside_is_no_click()
{
    Enter(m_button);
    Mouse(m_button, QEvent::MouseButtonPress, QPoint(10, 10));
    Mouse(m_button, QEvent::MouseButtonRelease, QPoint(300, 10));
    QCOMPARE(m_button->CurrentSlot(), int(CTranslucentButton::ImageNormal));
    QVERIFY(m_dialog->commands.empty());

    // A disabled button takes no click at all, and shows no hand.
    QCOMPARE(m_button->cursor().shape(), Qt::PointingHandCursor);
    m_button->setEnabled(false);
    QVERIFY(!m_button->testAttribute(Qt::WA_SetCursor));
    Mouse(m_button, QEvent::MouseButtonPress, QPoint(10, 10));
    Mouse(m_button, QEvent::MouseButtonRelease, QPoint(10, 10));
    QVERIFY(m_dialog->commands.empty());
}

void TranslucentButtonTest::second_press_of_double_click_is_not_pressed()
{
    Enter(m_button);
    Mouse(m_button, QEvent::MouseButtonPress, QPoint(10, 10));
    Mouse(m_button, QEvent::MouseButtonRelease, QPoint(10, 10));
    Mouse(m_button, QEvent::MouseButtonDblClick, QPoint(10, 10));
    QCOMPARE(m_button->CurrentSlot(), int(CTranslucentButton::ImageHover));
    QVERIFY(!m_button->IsPressed());
    Mouse(m_button, QEvent::MouseButtonRelease, QPoint(10, 10));
    QCOMPARE(m_dialog->commands, (std::vector<int>{kId, kId}));
}

void TranslucentButtonTest::checkable_button_toggles_on_each_click()
{
    m_button->SetCheckable(true);
    Enter(m_button);
    for (bool expected : {true, false, true}) {
        Mouse(m_button, QEvent::MouseButtonPress, QPoint(10, 10));
        Mouse(m_button, QEvent::MouseButtonRelease, QPoint(10, 10));
        QCOMPARE(m_button->IsChecked(), expected);
    }
    // Releasing outside leaves the checked state alone.
    Mouse(m_button, QEvent::MouseButtonPress, QPoint(10, 10));
    Mouse(m_button, QEvent::MouseButtonRelease, QPoint(-5, 10));
    QVERIFY(m_button->IsChecked());
    QCOMPARE(m_button->CurrentSlot(), int(CTranslucentButton::ImageChecked));
}

void TranslucentButtonTest::text_shortening_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("19 characters") << "abcdefghijklmno.txt" << "abcdefghijklmno.txt";
    QTest::newRow("24 with extension") << "abcdefghijklmnopqrst.txt" << "abcdefghij...st.txt";
    QTest::newRow("25-character path, no dot") << "/home/player/games/zorvat" << "/home/player/games/zorvat";
    QTest::newRow("20, last dot at index 5") << "abcde.ghijklmnopqrst" << "abcde.ghijklmnopqrst";
    QTest::newRow("20, last dot at index 6") << "abcdef.hijklmnopqrst" << "abcdef.hij...ef.hijklmnopqrst";
    QTest::newRow("Chinese path") << QStringLiteral("下载目录/客户端/安装程序/zorvath_setup.exe")
                                  << QStringLiteral("下载目录/客户端/安...up.exe");
}

void TranslucentButtonTest::text_shortening()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(ShortenButtonText(text), shown);
}

void TranslucentButtonTest::status_texts_are_cut_at_the_end_only_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("path");
    QTest::addColumn<bool>("whole");
    const QString status = QStringLiteral("速度:500.0MB/s,  45MB/120MB");
    const QString folder = QStringLiteral("/home/player/games/zorvath/data.files/");
    QTest::newRow("status that fits") << status << 228 << false << true;
    QTest::newRow("status too wide") << status << 90 << false << false;
    QTest::newRow("version too wide") << QStringLiteral("版本信息:1.0.7.20261211-release") << 60 << false << false;
    QTest::newRow("folder keeps the path rule") << folder << 243 << true << false;
}

// The rule around the last "." is for paths: a status line keeps its
// numbers whole, and one too wide for its widget loses only its end.
void TranslucentButtonTest::status_texts_are_cut_at_the_end_only()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(bool, path);
    QFETCH(bool, whole);
    m_button->SetTextFont(12);
    m_button->resize(width, 16);
    m_button->SetPathShortening(path);
    m_button->SetText(text);
    const QString shown = m_button->ShownText();
    if (path) {
        QCOMPARE(shown, ShortenButtonText(text));
        return;
    }
    QVERIFY(!shown.contains(QStringLiteral("...")));
    if (whole) {
        QCOMPARE(shown, text);
    } else {
        QVERIFY2(shown.endsWith(QChar(0x2026)), qPrintable(shown));
        QVERIFY2(text.startsWith(shown.chopped(1)), qPrintable(shown));
        QVERIFY(QFontMetrics(m_button->TextFont()).horizontalAdvance(shown) <= width);
    }
}

void TranslucentButtonTest::text_is_drawn_in_a_cjk_font()
{
    m_button->SetTextFont(12);
    QCOMPARE(m_button->TextFont().pixelSize(), 12);
    const QFontMetrics metrics(m_button->TextFont());
    for (QChar c : QStringLiteral("请设置下载路径版本信息"))
        QVERIFY2(metrics.inFont(c), "the skin's font cannot show Chinese");

    const QImage plain = m_dialog->ComposeFrame();
    m_button->SetTextColor(QColor(Qt::white));
    m_button->SetText(QStringLiteral("请设置下载路径"));
    const QImage withText = m_dialog->ComposeFrame();
    int changed = 0;
    for (int y = 200; y < 253; ++y)
        for (int x = 100; x < 245; ++x)
            changed += plain.pixel(x, y) != withText.pixel(x, y);
    QVERIFY2(changed > 30, "no text was drawn over the button");
    // Text stays inside the button's rectangle.
    for (int y = 0; y < plain.height(); ++y)
        for (int x : {99, 245})
            QCOMPARE(plain.pixel(x, y), withText.pixel(x, y));
}

QTEST_MAIN(TranslucentButtonTest)
#include "translucent_button_test.moc"
