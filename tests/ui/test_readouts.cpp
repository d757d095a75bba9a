// Cursor and marker readouts and the minimum-size rule, as a table of cases.
#include <QtTest>

#include "ui/readouts.h"

Q_DECLARE_METATYPE(PlotRect)

namespace {
PlotArea AreaWithFrame() {
    PlotArea area;
    area.plotRect = PlotRect{40, 165, 590, 480};
    return area;
}
}  // namespace

class TestReadouts : public QObject {
    Q_OBJECT
  private slots:
    void cursorText_data();
    void cursorText();
    void markerDeltaIsUnsignedInFrequencyAndSignedInLevel();
    void outsideTheXRangeOrWithoutFrameReadsNothing_data();
    void outsideTheXRangeOrWithoutFrameReadsNothing();
    void clicksCountTheEdgesAsInside_data();
    void clicksCountTheEdgesAsInside();
    void minimumSize_data();
    void minimumSize();
};

void TestReadouts::cursorText_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<QString>("text");
    QTest::newRow("top-left") << 1000 << 40 << 165 << "0Hz  20.0dBm";
    QTest::newRow("bottom-right") << 1000 << 590 << 480 << "500Hz  -180.0dBm";
    QTest::newRow("above 1 kHz") << 6000 << 315 << 300 << "1.50KHz  -65.7dBm";
    QTest::newRow("exactly 1 kHz") << 4000 << 315 << 300 << "1000Hz  -65.7dBm";
    QTest::newRow("above the frame") << 1000 << 40 << 155 << "0Hz  26.3dBm";
}

void TestReadouts::cursorText() {
    QFETCH(int, rate);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(QString, text);
    const std::optional<CursorReading> reading = ReadCursor(AreaWithFrame(), rate, x, y);
    QVERIFY(reading.has_value());
    QCOMPARE(QString::fromStdString(reading->cursorText), text);
    QVERIFY(!reading->markerText.has_value());
}

void TestReadouts::markerDeltaIsUnsignedInFrequencyAndSignedInLevel() {
    PlotArea area = AreaWithFrame();
    area.markerX = 200;
    area.markerY = 250;
    const std::optional<CursorReading> reading = ReadCursor(area, 1000, 100, 350);
    QVERIFY(reading && reading->markerText);
    QCOMPARE(QString::fromStdString(*reading->markerText), QStringLiteral("90.9Hz  -63.5dB"));
    const std::optional<CursorReading> above = ReadCursor(area, 1000, 300, 200);
    QCOMPARE(QString::fromStdString(*above->markerText), QStringLiteral("90.9Hz  31.7dB"));
}

void TestReadouts::outsideTheXRangeOrWithoutFrameReadsNothing_data() {
    QTest::addColumn<PlotRect>("frame");
    QTest::addColumn<int>("x");
    QTest::newRow("left of L") << PlotRect{40, 165, 590, 480} << 39;
    QTest::newRow("right of R") << PlotRect{40, 165, 590, 480} << 591;
    QTest::newRow("before the first paint") << PlotRect{} << 0;
    QTest::newRow("no height") << PlotRect{40, 165, 590, 165} << 100;
}

void TestReadouts::outsideTheXRangeOrWithoutFrameReadsNothing() {
    QFETCH(PlotRect, frame);
    QFETCH(int, x);
    PlotArea area;
    area.plotRect = frame;
    area.markerX = 100;
    QVERIFY(!ReadCursor(area, 1000, x, 200).has_value());
}

void TestReadouts::clicksCountTheEdgesAsInside_data() {
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<bool>("inside");
    QTest::newRow("top-left corner") << 40 << 165 << true;
    QTest::newRow("bottom-right corner") << 590 << 480 << true;
    QTest::newRow("left of the frame") << 39 << 300 << false;
    QTest::newRow("right of the frame") << 591 << 300 << false;
    QTest::newRow("above") << 300 << 164 << false;
    QTest::newRow("below") << 300 << 481 << false;
}

void TestReadouts::clicksCountTheEdgesAsInside() {
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(bool, inside);
    QCOMPARE(InsidePlot(PlotRect{40, 165, 590, 480}, x, y), inside);
}

void TestReadouts::minimumSize_data() {
    QTest::addColumn<int>("cx");
    QTest::addColumn<int>("cy");
    QTest::addColumn<bool>("snaps");
    QTest::newRow("narrow") << 500 << 600 << true;
    QTest::newRow("low") << 600 << 289 << true;
    QTest::newRow("at the limit") << 510 << 290 << false;
    QTest::newRow("start size") << 513 << 561 << false;
}

void TestReadouts::minimumSize() {
    QFETCH(int, cx);
    QFETCH(int, cy);
    QFETCH(bool, snaps);
    QCOMPARE(IsBelowMinimumSize(cx, cy), snaps);
}

QTEST_APPLESS_MAIN(TestReadouts)
#include "test_readouts.moc"
