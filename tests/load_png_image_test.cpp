#include <QtTest>

#include "layeredui/LoadPngImage.h"

class LoadPngImageTest : public QObject {
    Q_OBJECT
private slots:
    void every_skin_picture_has_its_size_and_alpha_data();
    void every_skin_picture_has_its_size_and_alpha();
    void missing_id_gives_an_empty_image_not_null();
    void two_loads_are_independent();
};

void LoadPngImageTest::every_skin_picture_has_its_size_and_alpha_data()
{
    QTest::addColumn<unsigned>("id");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("alpha");
    struct Row { unsigned id; int w; int h; bool alpha; };
    const Row rows[] = {
        {131, 16, 16, true},   {134, 189, 147, true}, {135, 145, 53, true}, {136, 145, 53, true},
        {138, 371, 20, false}, {139, 366, 16, false}, {141, 145, 53, true}, {143, 37, 14, false},
        {144, 228, 16, false}, {145, 45, 20, false},  {148, 145, 53, true}, {149, 145, 53, true},
        {151, 740, 525, true}, {152, 17, 16, true},   {155, 243, 28, true}, {156, 141, 15, true},
        {157, 189, 147, true}, {171, 191, 16, false}, {176, 46, 14, false}, {184, 145, 53, true},
        {186, 145, 53, true},  {190, 145, 53, true},  {193, 145, 53, true}, {195, 145, 53, true},
        {196, 145, 53, true},  {197, 100, 15, true},  {201, 69, 23, false}, {202, 145, 53, true},
        {203, 145, 53, true},  {204, 138, 44, false}, {205, 138, 44, false}, {206, 138, 44, false},
        {207, 138, 44, false}, {208, 138, 44, false}, {209, 138, 44, false}, {210, 45, 20, false},
        {212, 69, 23, false},  {213, 92, 14, false},  {214, 145, 53, true}, {215, 145, 53, true},
        {216, 145, 53, true},
    };
    for (const Row& row : rows)
        QTest::addRow("%u", row.id) << row.id << QSize(row.w, row.h) << row.alpha;
}

void LoadPngImageTest::every_skin_picture_has_its_size_and_alpha()
{
    QFETCH(unsigned, id);
    QFETCH(QSize, size);
    QFETCH(bool, alpha);
    const auto image = LoadPngImage(id);
    QVERIFY(image);
    QCOMPARE(image->size(), size);
    QCOMPARE(image->hasAlphaChannel(), alpha);
}

void LoadPngImageTest::missing_id_gives_an_empty_image_not_null()
{
    for (unsigned id : {0u, 132u, 217u, 100000u}) {
        const auto image = LoadPngImage(id);
        QVERIFY2(image != nullptr, qPrintable(QString::number(id)));
        QCOMPARE(image->width(), 0);
        QCOMPARE(image->height(), 0);
    }
}

void LoadPngImageTest::two_loads_are_independent()
{
    auto first = LoadPngImage(151);
    auto second = LoadPngImage(151);
    QVERIFY(first && second);
    QVERIFY(first.get() != second.get());
    QCOMPARE(*first, *second);
    const QImage untouched = *second;

    // Changing or releasing one leaves the other as it was.
    first->setPixel(370, 300, qRgba(1, 2, 3, 255));
    QCOMPARE(*second, untouched);
    first.reset();
    QCOMPARE(second->size(), QSize(740, 525));
    QCOMPARE(*second, untouched);
}

QTEST_GUILESS_MAIN(LoadPngImageTest)
#include "load_png_image_test.moc"
