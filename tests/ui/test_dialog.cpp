// The main dialog: template layout, start from the profile, data exchange and
// every handler, with the cycle, the connection and the box recorded.
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QWheelEvent>
#include <QtTest>
#include <climits>
#include <tuple>
#include <utility>

#include "analysis/analysis.h"
#include "tests/comma_locale.h"
#include "tests/ui/dialog_fixture.h"
#include "ui/about_dlg.h"
#include "ui/app_icon.h"
#include "ui/readouts.h"
#include "ui/up_down.h"

class TestDialog : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void init() { ResetAnalysisState(); }

    void templateControlsInOrderWithTheirGeometry();
    void tabStopsFollowTemplateOrder();
    void tabAndShiftTabFollowTemplateOrder_data();
    void tabAndShiftTabFollowTemplateOrder();
    void freshProfileStartsAt1800And128Channel1Com3();
    void outOfRangeAndNonNumericStoredValues();
    void channelSpinClampsAndStores();
    void comPortSpinSteps_data();
    void comPortSpinSteps();
    void listsWithoutConnectionShowTheBoxButStillChange();
    void listsWithConnectionClearWithoutBox();
    void averagingOnAnd10ClearWithoutConnectionOffDoesNot();
    void clearAndResolutionButtonsNeedAConnection();
    void thdEnableBlanksTheFieldBothWays();
    void runWithoutConnectionKeepsRunSelectedAndNoTimer();
    void runAndStopDriveTimer100();
    void clickOrTickDuringACycleDoesNothing();
    void ticksWhileTheBoxIsOpenShowNoSecondBox();
    void aTickWhoseCycleShowsABoxEndsRunMode_data();
    void aTickWhoseCycleShowsABoxEndsRunMode();
    void longFieldTextsShowTheirStart();
    void noButtonIsDrawnAsTheDefault();
    void wheelOverAListChangesItOnlyWithFocus();
    void boxesUseTheDialogFont();
    void cancelStopsTheTimerAndCloses();
    void mouseMoveClickAndMarkerOff();
    void readoutsBeforeTheFirstPaintChangeNothing();
    void resizeSnapsToMinimumAndRemovesMarker();
    void statusToolTipIsEmptyWithoutPort();
    void aMinimisedWindowIsLeftAlone();
    void aboutBoxAndIcon();
    void contextMenuAndF1OpenTheAboutBox();
    void enterClosesUnlessAButtonHasTheFocus();
    void exportsSaveOrSayWhyAndLeaveNoFile();
    void textsKeepTheirPointUnderACommaLocale();
};

void TestDialog::initTestCase() {
    // A grab with boxes for glyphs must not pass as a drawn dialog.
    QVERIFY2(QFontDatabase::families().contains(QStringLiteral("DejaVu Sans")),
             "fonts-dejavu-core is not installed");
    DialogFixture f;
    f.Start();
    QCOMPARE(QFontInfo(f.dialog->font()).family(), QStringLiteral("DejaVu Sans"));
    QCOMPARE(QFontInfo(f.dialog->PlotFont()).family(), QStringLiteral("DejaVu Sans"));
}

void TestDialog::templateControlsInOrderWithTheirGeometry() {
    DialogFixture f;
    f.Start();
    const std::vector<QWidget*>& controls = f.dialog->TemplateControls();
    QCOMPARE(controls.size(), std::size_t{36});
    const int ids[36] = {1010, 1037, 1011, 1035, 1012, 1006, 1007, 1030, 1031, 1032, 1054, 1036,
                         1034, 1074, 1004, 1005, 1075, 1015, 1002, 1003, 1072, 1008, 1014, 0,
                         0,    0,    0,    0,    0,    1009, 0,    0,    0,    1013, 0,    0};
    for (int i = 0; i < 36; ++i) {
        const QString expected = ids[i] ? ControlName(ids[i]) : QStringLiteral("IDC_STATIC");
        QCOMPARE(controls[i]->objectName(), expected);
    }
    QCOMPARE(f.dialog->size(), QSize(513, 561));
    QCOMPARE(f.dialog->windowTitle(), QStringLiteral("Kyv FFT Ap V1.0 "));
    // x, y, width and height each converted on its own (rounded half up).
    // Progress bar (7, 87, 331 x 8 DLU): rows 141..153, just above the plot at 165.
    QCOMPARE(f.Control<QProgressBar>(IDC_PROGRESS)->geometry(), QRect(11, 141, 497, 13));
    QCOMPARE(f.Control<QPushButton>(IDC_SINGLE_CONVERT)->geometry(), QRect(323, 114, 89, 21));
    QCOMPARE(f.Control<QLineEdit>(IDC_CURSOR)->geometry(), QRect(324, 67, 174, 20));
    QCOMPARE(f.Control<QLineEdit>(IDC_PORT_STATUS)->geometry(), QRect(32, 24, 77, 20));
    QCOMPARE(f.Control<QRadioButton>(IDC_8BIT)->geometry(), QRect(314, 26, 41, 16));
    QCOMPARE(f.Control<QPushButton>(IDC_SINGLE_CONVERT)->text(), QStringLiteral("Single Convert"));
    QCOMPARE(qobject_cast<QLabel*>(controls[32])->text(), QStringLiteral("Port Status: "));
    QVERIFY(f.Control<QLineEdit>(IDC_PORT_STATUS)->isReadOnly());
    QVERIFY(f.dialog->windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(f.dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
}

void TestDialog::tabStopsFollowTemplateOrder() {
    DialogFixture f;
    f.Start();
    const int order[] = {1037, 1011, 1035, 1012, 1030, 1031, 1032,
                         1054, 1036, 1034, 1074, 1075, 1072};
    QWidget* w = f.Control<QWidget>(order[0]);
    for (int id : order) {
        QCOMPARE(w->objectName(), ControlName(id));
        do {
            w = w->nextInFocusChain();
        } while (!(w->focusPolicy() & Qt::TabFocus) || w == f.dialog.get() ||
                 w->parentWidget() != f.dialog.get());
    }
    for (int id : {1006, 1007, 1004, 1005, 1015, 1002, 1003, 1008, 1014}) {
        QVERIFY(!(f.Control<QRadioButton>(id)->focusPolicy() & Qt::TabFocus));
    }
    QVERIFY(!(f.Control<CUpDownCtrl>(IDC_COMPORT_SPIN)->focusPolicy() & Qt::TabFocus));
}

void TestDialog::tabAndShiftTabFollowTemplateOrder_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("next");
    QTest::addColumn<int>("previous");
    // The tab stops in template order are 1037 1011 1035 1012 1030 1031 1032
    // 1054 1036 1034 1074 1075 1072; a radio button (focused by a click) has
    // none of its own and leads to the stops around it.
    const int rows[][3] = {
        {1037, 1011, 1072}, {1011, 1035, 1037}, {1035, 1012, 1011}, {1012, 1030, 1035},
        {1006, 1030, 1012}, {1007, 1030, 1012}, {1030, 1031, 1012}, {1031, 1032, 1030},
        {1032, 1054, 1031}, {1054, 1036, 1032}, {1036, 1034, 1054}, {1034, 1074, 1036},
        {1074, 1075, 1034}, {1004, 1075, 1074}, {1005, 1075, 1074}, {1075, 1072, 1074},
        {1015, 1072, 1075}, {1002, 1072, 1075}, {1003, 1072, 1075}, {1072, 1037, 1075},
        {1008, 1037, 1072}, {1014, 1037, 1072},
    };
    for (const auto& r : rows) {
        QTest::newRow(qPrintable(ControlName(r[0]))) << r[0] << r[1] << r[2];
    }
}

void TestDialog::tabAndShiftTabFollowTemplateOrder() {
    QFETCH(int, from);
    QFETCH(int, next);
    QFETCH(int, previous);
    DialogFixture f;
    f.Start();
    f.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.dialog.get()));
    QApplication::setActiveWindow(f.dialog.get());
    auto* start = f.Control<QWidget>(from);
    for (const auto& [modifier, expected] :
         {std::pair{Qt::NoModifier, next}, std::pair{Qt::ShiftModifier, previous}}) {
        start->setFocus(Qt::MouseFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), start);
        QTest::keyClick(start, Qt::Key_Tab, modifier);
        QWidget* focused = QApplication::focusWidget();
        QCOMPARE(focused ? focused->objectName() : QString(), ControlName(expected));
    }
}

void TestDialog::freshProfileStartsAt1800And128Channel1Com3() {
    DialogFixture f;
    f.Start();
    QCOMPARE(f.state->sampleRate, 1800);
    QCOMPARE(f.state->sampleCount, 128);
    QCOMPARE(f.state->channel, 1);
    QCOMPARE(f.state->comPort, 3);
    QCOMPARE(f.dialog->connects, std::vector<int>{3});
    QCOMPARE(f.Control<QComboBox>(IDC_SAMPLE_RATE)->currentText(), QStringLiteral("1800s/s"));
    QCOMPARE(f.Control<QComboBox>(IDC_SAMPLE_RATE)->count(), 13);
    QCOMPARE(f.Control<QComboBox>(IDC_SAMPLE_COUNT)->currentText(), QStringLiteral("128"));
    QCOMPARE(f.Control<QLineEdit>(IDC_CHANNEL)->text(), QStringLiteral("1"));
    QCOMPARE(f.Control<QLineEdit>(IDC_MARKER)->text(), QStringLiteral("Click on graph"));
    QCOMPARE(f.Control<QLineEdit>(IDC_PORT_STATUS)->text(), QStringLiteral("COM3:Error"));
    QVERIFY(f.Control<QRadioButton>(IDC_STOP)->isChecked());
    QVERIFY(f.Control<QRadioButton>(IDC_AVG_OFF)->isChecked());
    QVERIFY(f.Control<QRadioButton>(IDC_8BIT)->isChecked());
    QVERIFY(f.Control<QRadioButton>(IDC_WINDOW_ON)->isChecked());
    QVERIFY(f.Control<QCheckBox>(IDC_THD_ENABLE)->isChecked());
    QCOMPARE(f.state->thdEnabled, 1);
    // Reading the defaults writes nothing.
    QVERIFY(!QFile::exists(f.ProfilePath()));
}

void TestDialog::outOfRangeAndNonNumericStoredValues() {
    DialogFixture f;
    f.Start(
        "[MyOrvanelAp]\nSampleRateSelection=13\nNumSampleSelection=-1\nChannelSelection=two\n"
        "OrvanelComPort=20\n");
    QCOMPARE(f.Control<QComboBox>(IDC_SAMPLE_RATE)->currentIndex(), -1);
    QCOMPARE(f.Control<QComboBox>(IDC_SAMPLE_COUNT)->currentIndex(), -1);
    QCOMPARE(f.state->sampleRate, 0);
    QCOMPARE(f.state->sampleCount, 0);
    QCOMPARE(f.state->channel, 1);                       // not a number: the default
    QCOMPARE(f.dialog->connects, std::vector<int>{20});  // taken as stored
    QCOMPARE(f.dialog->RateSelection(), -1);
}

void TestDialog::channelSpinClampsAndStores() {
    DialogFixture f;
    f.Start("[MyOrvanelAp]\nChannelSelection=9\n");
    auto* edit = f.Control<QLineEdit>(IDC_CHANNEL);
    auto* spin = f.Control<CUpDownCtrl>(IDC_CHANNEL_SPIN);
    QCOMPARE(edit->text(), QStringLiteral("9"));
    spin->ClickDown();  // proposes +1, lowers the channel: 9 - 1 = 8, clamped to 6
    QCOMPARE(edit->text(), QStringLiteral("6"));
    QCOMPARE(f.Stored(kKeyChannel), 6);
    for (int i = 0; i < 10; ++i) spin->ClickDown();
    QCOMPARE(f.state->channel, 0);
    QCOMPARE(f.Stored(kKeyChannel), 0);
    spin->ClickUp();
    QCOMPARE(edit->text(), QStringLiteral("1"));
    QCOMPARE(f.Stored(kKeyChannel), 1);

    DialogFixture g;
    g.Start("[MyOrvanelAp]\nChannelSelection=9\n");
    g.Control<CUpDownCtrl>(IDC_CHANNEL_SPIN)->ClickUp();
    QCOMPARE(g.state->channel, 6);

    // The ends of int, as an edited profile may hold them: clamped, not wrapped.
    for (const auto& [stored, up, next] :
         {std::tuple{INT_MAX, true, 6}, std::tuple{INT_MIN, false, 0}}) {
        DialogFixture h;
        h.Start("[MyOrvanelAp]\nChannelSelection=" + QByteArray::number(stored) + "\n");
        auto* edge = h.Control<CUpDownCtrl>(IDC_CHANNEL_SPIN);
        up ? edge->ClickUp() : edge->ClickDown();
        QCOMPARE(h.state->channel, next);
        QCOMPARE(h.Stored(kKeyChannel), next);
    }
}

void TestDialog::comPortSpinSteps_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<bool>("up");
    QTest::addColumn<int>("next");
    QTest::newRow("COM3 up") << 3 << true << 4;
    QTest::newRow("COM3 down") << 3 << false << 2;
    QTest::newRow("COM16 up stays") << 16 << true << 16;
    QTest::newRow("COM1 down stays") << 1 << false << 1;
    QTest::newRow("stored 20 down") << 20 << false << 16;
    // Edited profiles: the step from the ends of int still clamps, it does not wrap.
    QTest::newRow("stored INT_MAX up") << INT_MAX << true << 16;
    QTest::newRow("stored INT_MIN down") << INT_MIN << false << 1;
}

void TestDialog::comPortSpinSteps() {
    QFETCH(int, stored);
    QFETCH(bool, up);
    QFETCH(int, next);
    DialogFixture f;
    f.Start("[MyOrvanelAp]\nOrvanelComPort=" + QByteArray::number(stored) + "\n");
    auto* spin = f.Control<CUpDownCtrl>(IDC_COMPORT_SPIN);
    up ? spin->ClickUp() : spin->ClickDown();
    QCOMPARE(f.dialog->connects, (std::vector<int>{stored, next}));
    QCOMPARE(f.state->comPort, next);
}

void TestDialog::listsWithoutConnectionShowTheBoxButStillChange() {
    DialogFixture f;
    f.Start();
    auto* counts = f.Control<QComboBox>(IDC_SAMPLE_COUNT);
    counts->setCurrentIndex(4);
    emit counts->activated(4);
    QCOMPARE(f.dialog->boxes, QStringList{QStringLiteral("Please select a valid COM port")});
    QCOMPARE(f.state->sampleCount, 2048);
    QCOMPARE(f.Stored(kKeySampleCount), 4);

    auto* rates = f.Control<QComboBox>(IDC_SAMPLE_RATE);
    rates->setCurrentIndex(12);
    emit rates->activated(12);
    QCOMPARE(f.dialog->boxes.size(), 2);
    QCOMPARE(f.state->sampleRate, 6000);
    QCOMPARE(f.Stored(kKeySampleRate), 12);
    QCOMPARE(f.dialog->RateSelection(), 12);
}

namespace {

// Primes the "On" average with a tone at bin 10, then feeds silence: the
// output at bin 10 tells whether the averages were restarted in between.
struct AveragingProbe {
    MeasurementState& s;
    void Prime() {
        for (int j = 0; j < 128; ++j) s.samples[j] = std::sin(2 * M_PI * 10 * j / 128.0);
        ComputeSpectrum(s.samples, s.spectrum, 128, 1, false);
    }
    bool WasCleared() {
        for (int j = 0; j < 128; ++j) s.samples[j] = 0.0;
        ComputeSpectrum(s.samples, s.spectrum, 128, 1, false);
        // Cleared: only the silent block counts (floor); otherwise the tone's level halves in.
        return s.spectrum[10] < -179.0;
    }
};

}  // namespace

void TestDialog::listsWithConnectionClearWithoutBox() {
    DialogFixture f;
    f.Start({}, true);
    AveragingProbe probe{*f.state};
    probe.Prime();
    auto* counts = f.Control<QComboBox>(IDC_SAMPLE_COUNT);
    counts->setCurrentIndex(0);
    emit counts->activated(0);
    QVERIFY(f.dialog->boxes.isEmpty());
    QVERIFY(probe.WasCleared());
}

void TestDialog::averagingOnAnd10ClearWithoutConnectionOffDoesNot() {
    DialogFixture f;
    f.Start();
    AveragingProbe probe{*f.state};
    probe.Prime();
    f.Control<QRadioButton>(IDC_AVG_OFF)->click();
    QVERIFY(!probe.WasCleared());

    for (int id : {IDC_AVG_ON, IDC_AVG_10}) {
        ResetAnalysisState();
        probe.Prime();
        f.Control<QRadioButton>(id)->click();
        QVERIFY(probe.WasCleared());
    }
    QVERIFY(f.dialog->boxes.isEmpty());
    f.dialog->RefreshSettings();
    QCOMPARE(f.state->averagingMode, 2);
}

void TestDialog::clearAndResolutionButtonsNeedAConnection() {
    DialogFixture f;
    f.Start();
    AveragingProbe probe{*f.state};
    probe.Prime();
    f.Control<QPushButton>(IDC_CLEAR)->click();
    f.Control<QRadioButton>(IDC_10BIT)->click();
    QCOMPARE(f.dialog->boxes.size(), 2);
    QVERIFY(!probe.WasCleared());
    f.dialog->RefreshSettings();
    QCOMPARE(f.state->resolution, 1);  // the button moved all the same

    DialogFixture g;
    g.Start({}, true);
    AveragingProbe connected{*g.state};
    connected.Prime();
    g.Control<QRadioButton>(IDC_8BIT)->click();
    QVERIFY(g.dialog->boxes.isEmpty());
    QVERIFY(connected.WasCleared());
}

void TestDialog::thdEnableBlanksTheFieldBothWays() {
    DialogFixture f;
    f.Start();
    auto* check = f.Control<QCheckBox>(IDC_THD_ENABLE);
    auto* field = f.Control<QLineEdit>(IDC_THD);
    f.state->thdText = "1.234 %";
    f.dialog->ShowValues();
    check->click();
    QCOMPARE(field->text(), QStringLiteral(" "));
    QCOMPARE(f.state->thdEnabled, 0);
    f.state->thdText = "2.000 %";
    f.dialog->ShowValues();
    check->click();
    QCOMPARE(field->text(), QStringLiteral(" "));
    QCOMPARE(f.state->thdEnabled, 1);
}

void TestDialog::runWithoutConnectionKeepsRunSelectedAndNoTimer() {
    DialogFixture f;
    f.Start();
    f.Control<QRadioButton>(IDC_RUN)->click();
    QCOMPARE(f.dialog->boxes, QStringList{QStringLiteral("Please select a valid COM port")});
    QVERIFY(!f.dialog->RunTimerActive());
    QVERIFY(f.Control<QRadioButton>(IDC_RUN)->isChecked());
    f.dialog->RefreshSettings();
    QCOMPARE(f.state->runMode, 1);
    QCOMPARE(f.dialog->cycles, 0);
}

void TestDialog::runAndStopDriveTimer100() {
    DialogFixture f;
    f.Start({}, true);
    f.Control<QRadioButton>(IDC_RUN)->click();
    QVERIFY(f.dialog->RunTimerActive());
    QCOMPARE(f.dialog->RunTimerInterval(), 100);
    QTRY_VERIFY_WITH_TIMEOUT(f.dialog->cycles >= 2, 10000);
    f.Control<QRadioButton>(IDC_STOP)->click();
    QVERIFY(!f.dialog->RunTimerActive());
    QCOMPARE(f.state->busy, 0);
}

void TestDialog::clickOrTickDuringACycleDoesNothing() {
    DialogFixture f;
    f.Start({}, true);
    int busyInside = -1;
    f.dialog->duringCycle = [&] {
        busyInside = f.state->busy;
        f.Control<QPushButton>(IDC_SINGLE_CONVERT)->click();
        f.dialog->OnTimer(kRunTimerId);
    };
    f.Control<QPushButton>(IDC_SINGLE_CONVERT)->click();
    QCOMPARE(f.dialog->cycles, 1);
    QCOMPARE(busyInside, 1);
    QCOMPARE(f.state->busy, 0);
    QVERIFY(f.dialog->boxes.isEmpty());
}

void TestDialog::ticksWhileTheBoxIsOpenShowNoSecondBox() {
    DialogFixture f;
    f.Start({}, true);
    f.Control<QRadioButton>(IDC_RUN)->click();
    f.state->connected = 0;  // the connection was lost while running
    int nested = 0;
    f.dialog->whileBoxOpen = [&] {
        for (; nested < 5; ++nested) f.dialog->OnTimer(kRunTimerId);
    };
    f.dialog->OnTimer(kRunTimerId);
    QCOMPARE(nested, 5);
    QCOMPARE(f.dialog->boxes.size(), 1);
    // Once it is closed the next tick asks again.
    f.dialog->whileBoxOpen = nullptr;
    f.dialog->OnTimer(kRunTimerId);
    QCOMPARE(f.dialog->boxes.size(), 2);
    QCOMPARE(f.dialog->cycles, 0);
}

void TestDialog::aTickWhoseCycleShowsABoxEndsRunMode_data() {
    QTest::addColumn<bool>("lostBeforeTick");
    QTest::newRow("the cycle shows a box") << false;
    QTest::newRow("no connection at the tick") << true;
}

void TestDialog::aTickWhoseCycleShowsABoxEndsRunMode() {
    QFETCH(bool, lostBeforeTick);
    DialogFixture f;
    f.Start({}, true);
    // A cycle that fails every time, as with an unplugged instrument.
    f.dialog->duringCycle = [&] { f.dialog->MessageBox("Instrument connection lost."); };
    f.Control<QRadioButton>(IDC_RUN)->click();
    QVERIFY(f.dialog->RunTimerActive());
    if (lostBeforeTick) f.state->connected = 0;
    QTRY_VERIFY_WITH_TIMEOUT(!f.dialog->RunTimerActive(), 10000);
    QCOMPARE(f.dialog->boxes.size(), 1);
    QCOMPARE(f.dialog->cycles, lostBeforeTick ? 0 : 1);
    QVERIFY(f.Control<QRadioButton>(IDC_STOP)->isChecked());
    QVERIFY(!f.Control<QRadioButton>(IDC_RUN)->isChecked());
    f.dialog->RefreshSettings();
    QCOMPARE(f.state->runMode, 0);
    // Nothing ticks any more: no second box, however long one waits.
    QTest::qWait(400);
    QCOMPARE(f.dialog->boxes.size(), 1);

    // A tick whose cycle succeeds keeps running.
    f.dialog->duringCycle = nullptr;
    f.state->connected = 1;
    f.Control<QRadioButton>(IDC_RUN)->click();
    QTRY_VERIFY_WITH_TIMEOUT(f.dialog->cycles >= (lostBeforeTick ? 2 : 3), 10000);
    QVERIFY(f.dialog->RunTimerActive());
    QVERIFY(f.Control<QRadioButton>(IDC_RUN)->isChecked());
}

void TestDialog::longFieldTextsShowTheirStart() {
    DialogFixture f;
    f.Start();
    f.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.dialog.get()));
    auto* marker = f.Control<QLineEdit>(IDC_MARKER);
    f.state->markerText = "2961.0Hz  191.5dB";
    f.dialog->ShowValues();
    // Longer than its field, so only one end of it can show: the start.
    QVERIFY2(marker->fontMetrics().horizontalAdvance(marker->text()) > marker->width() - 8,
             qPrintable(QString::number(marker->fontMetrics().horizontalAdvance(marker->text()))));
    QCOMPARE(marker->cursorPosition(), 0);
    f.state->cursorText = "2.96KHz  -179.9dBm and more than fits";
    f.dialog->ShowValues();
    QCOMPARE(f.Control<QLineEdit>(IDC_CURSOR)->cursorPosition(), 0);
}

void TestDialog::noButtonIsDrawnAsTheDefault() {
    DialogFixture f;
    f.Start();
    f.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.dialog.get()));
    for (QPushButton* b : f.dialog->findChildren<QPushButton*>()) {
        QVERIFY2(!b->isDefault() && !b->autoDefault(), qPrintable(b->objectName()));
    }
    // Focused, a button is still what Enter runs.
    QPushButton* off = f.Control<QPushButton>(IDC_MARKER_OFF);
    f.state->markerText = "1.0Hz  1.0dB";
    f.dialog->ShowValues();
    off->setFocus();
    QTest::keyClick(off, Qt::Key_Enter);
    QCOMPARE(f.Control<QLineEdit>(IDC_MARKER)->text(), QStringLiteral("Click on graph"));
    QVERIFY(f.dialog->isVisible());
    QVERIFY(!off->isDefault());
}

void TestDialog::wheelOverAListChangesItOnlyWithFocus() {
    DialogFixture f;
    f.Start();
    f.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.dialog.get()));
    auto* rates = f.Control<QComboBox>(IDC_SAMPLE_RATE);
    auto wheel = [&](int delta) {
        const QPointF at(rates->width() / 2, rates->height() / 2);
        QWheelEvent event(at, rates->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(rates, &event);
    };
    f.Control<QLineEdit>(IDC_PORT_STATUS)->setFocus();
    wheel(-120);
    wheel(120);
    wheel(-120);
    QCOMPARE(rates->currentIndex(), 6);
    QCOMPARE(f.state->sampleRate, 1800);
    QVERIFY(f.dialog->boxes.isEmpty());
    QVERIFY(!QFile::exists(f.ProfilePath()));

    rates->setFocus();
    QTRY_VERIFY(rates->hasFocus());
    wheel(-120);  // down the list: the next rate, with the list's handler
    QCOMPARE(rates->currentIndex(), 7);
    QCOMPARE(f.state->sampleRate, 2000);
    QCOMPARE(f.Stored(kKeySampleRate), 7);
}

void TestDialog::boxesUseTheDialogFont() {
    QTemporaryDir dir;
    CIniProfile profile(dir.filePath(QStringLiteral("pelkor.INI")));
    auto state = std::make_unique<MeasurementState>();
    PlotArea area;
    CSpectrumDlg dialog(*state, area, profile);
    QVERIFY(dialog.font() != QApplication::font());
    QList<QFont> seen;
    auto inspect = [&] {
        QTimer::singleShot(0, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            QVERIFY(modal);
            seen << modal->font();
            for (QLabel* l : modal->findChildren<QLabel*>()) {
                if (!l->text().isEmpty()) seen << l->font();
            }
            qobject_cast<QDialog*>(modal)->done(0);
        });
    };
    inspect();
    dialog.MessageBox("Please select a valid COM port");
    inspect();
    dialog.OnSysCommand(IDM_ABOUTBOX);
    QVERIFY(seen.size() >= 4);
    for (const QFont& font : seen) QCOMPARE(font, dialog.font());
}

void TestDialog::cancelStopsTheTimerAndCloses() {
    DialogFixture f;
    f.Start({}, true);
    f.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.dialog.get()));
    f.Control<QRadioButton>(IDC_RUN)->click();
    QTest::keyClick(f.dialog.get(), Qt::Key_Escape);
    QVERIFY(!f.dialog->RunTimerActive());
    QVERIFY(!f.dialog->isVisible());
    QCOMPARE(f.dialog->result(), int(QDialog::Accepted));

    DialogFixture g;
    g.Start();
    g.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(g.dialog.get()));
    g.dialog->close();  // the close box
    QVERIFY(!g.dialog->isVisible());
    QCOMPARE(g.dialog->result(), int(QDialog::Accepted));
}

void TestDialog::mouseMoveClickAndMarkerOff() {
    DialogFixture f;
    f.Start();
    f.state->sampleRate = 1000;
    f.dialog->resize(600, 500);
    f.dialog->grab();  // one paint sets the frame (40, 165, 590, 480)
    QVERIFY(f.area.plotRect == (PlotRect{40, 165, 590, 480}));
    auto* cursor = f.Control<QLineEdit>(IDC_CURSOR);
    auto* marker = f.Control<QLineEdit>(IDC_MARKER);

    QTest::mouseMove(f.dialog.get(), QPoint(40, 165));
    f.dialog->OnMouseMove(QPoint(40, 165));
    QCOMPARE(cursor->text(), QStringLiteral("0Hz  20.0dBm"));
    f.dialog->OnMouseMove(QPoint(39, 300));  // left of the frame: unchanged
    QCOMPARE(cursor->text(), QStringLiteral("0Hz  20.0dBm"));

    QTest::mouseClick(f.dialog.get(), Qt::LeftButton, {}, QPoint(200, 250));
    QCOMPARE(f.area.markerX, 200);
    QCOMPARE(f.area.markerY, 250);
    QCOMPARE(marker->text(), QStringLiteral("Click on graph"));  // until the mouse moves
    f.dialog->OnMouseMove(QPoint(100, 350));
    QCOMPARE(marker->text(), QStringLiteral("90.9Hz  -63.5dB"));
    QTest::mouseClick(f.dialog.get(), Qt::LeftButton, {}, QPoint(591, 250));  // outside
    QCOMPARE(f.area.markerX, 200);

    f.Control<QPushButton>(IDC_MARKER_OFF)->click();
    QCOMPARE(f.area.markerX, 0);
    QCOMPARE(f.area.markerY, 250);
    QCOMPARE(marker->text(), QStringLiteral("Click on graph"));
}

void TestDialog::readoutsBeforeTheFirstPaintChangeNothing() {
    DialogFixture f;
    f.Start();
    QVERIFY(f.area.plotRect == PlotRect{});
    f.dialog->OnMouseMove(QPoint(0, 0));
    QCOMPARE(f.Control<QLineEdit>(IDC_CURSOR)->text(), QString());
    QCOMPARE(f.state->cursorText, std::string());
}

void TestDialog::resizeSnapsToMinimumAndRemovesMarker() {
    DialogFixture f;
    f.Start();
    f.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.dialog.get()));
    f.dialog->grab();
    f.area.markerX = 100;
    f.state->markerText = "1.0Hz  1.0dB";
    f.dialog->ShowValues();
    f.dialog->resize(500, 600);
    QTRY_COMPARE(f.dialog->frameGeometry().size(), QSize(530, 320));
    QCOMPARE(f.area.markerX, 0);
    QCOMPARE(f.Control<QLineEdit>(IDC_MARKER)->text(), QStringLiteral("1.0Hz  1.0dB"));
    f.dialog->resize(700, 600);
    QTRY_COMPARE(f.dialog->size(), QSize(700, 600));
}

void TestDialog::aMinimisedWindowIsLeftAlone() {
    DialogFixture f;
    f.Start();
    f.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.dialog.get()));
    f.area.markerX = 120;
    f.dialog->showMinimized();
    QTRY_VERIFY(f.dialog->isMinimized());
    // What a minimise reports on some platforms: a tiny client area.
    QResizeEvent event(QSize(0, 0), f.dialog->size());
    QApplication::sendEvent(f.dialog.get(), &event);
    QCOMPARE(f.area.markerX, 120);
    QCOMPARE(f.dialog->size(), QSize(513, 561));
}

void TestDialog::statusToolTipIsEmptyWithoutPort() {
    DialogFixture f;
    f.Start();
    QCOMPARE(f.Control<QLineEdit>(IDC_PORT_STATUS)->toolTip(), QString());
}

void TestDialog::aboutBoxAndIcon() {
    CAboutDlg about;
    QCOMPARE(about.windowTitle(), QStringLiteral("About Pelkor"));
    QCOMPARE(about.size(), QSize(353, 89));
    auto* text = about.findChild<QLabel*>(QStringLiteral("IDC_STATIC_VERSION"));
    QVERIFY(text);
    QCOMPARE(text->text(), QStringLiteral("Pelkor Version 1.0"));
    auto* ok = about.findChild<QPushButton*>(QStringLiteral("IDOK"));
    QVERIFY(ok && ok->isDefault());
    about.show();
    ok->click();
    QCOMPARE(about.result(), int(QDialog::Accepted));

    for (int size : {32, 16}) {
        const QImage image = AppIconImage(size);
        QCOMPARE(image.size(), QSize(size, size));
        QCOMPARE(image.colorCount(), 16);
        // A picture, not a blank: the red trace and the white frame are there.
        QSet<QRgb> colours;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) colours.insert(image.pixel(x, y));
        QVERIFY(colours.contains(qRgb(255, 0, 0)));
        QVERIFY(colours.contains(qRgb(255, 255, 255)));
    }
}

void TestDialog::contextMenuAndF1OpenTheAboutBox() {
    DialogFixture f;
    f.Start();
    f.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.dialog.get()));
    QStringList entries;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        for (QAction* a : menu->actions()) {
            if (!a->isSeparator()) entries << a->text();
        }
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(100, 300),
                            f.dialog->mapToGlobal(QPoint(100, 300)));
    QApplication::sendEvent(f.dialog.get(), &event);
    QCOMPARE(entries,
             (QStringList{
                 QStringLiteral("&About Pelkor..."), QStringLiteral("Save spectrum as CSV\u2026"),
                 QStringLiteral("Save plot as PNG\u2026"), QStringLiteral("Copy measurements"),
                 QStringLiteral("Distortion\u2026"), QStringLiteral("Harmonic markers"),
                 QStringLiteral("Trace holds"), QStringLiteral("Zoom mode"),
                 QStringLiteral("Reset zoom"), QStringLiteral("Spectrogram\u2026"),
                 QStringLiteral("Serial ports\u2026")}));

    QString about;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        QVERIFY(modal);
        about = modal->windowTitle();
        qobject_cast<QDialog*>(modal)->accept();
    });
    QTest::keyClick(f.dialog.get(), Qt::Key_F1);
    QCOMPARE(about, QStringLiteral("About Pelkor"));
    QVERIFY(f.dialog->isVisible());
}

void TestDialog::enterClosesUnlessAButtonHasTheFocus() {
    DialogFixture f;
    f.Start();
    f.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.dialog.get()));
    QPushButton* clear = f.Control<QPushButton>(IDC_CLEAR);
    clear->setFocus();
    QTest::keyClick(clear, Qt::Key_Return);
    QCOMPARE(f.dialog->boxes.size(), 1);  // "Clear" ran, without a connection
    QVERIFY(f.dialog->isVisible());
    QLineEdit* status = f.Control<QLineEdit>(IDC_PORT_STATUS);
    status->setFocus();
    QTest::keyClick(status, Qt::Key_Return);
    QVERIFY(!f.dialog->isVisible());
    QCOMPARE(f.dialog->result(), int(QDialog::Accepted));
}

void TestDialog::exportsSaveOrSayWhyAndLeaveNoFile() {
    DialogFixture f;
    f.Start();
    f.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.dialog.get()));
    f.state->sampleCount = 128;
    f.state->sampleRate = 1800;
    f.state->spectrum[3] = -12.5;

    QString error;
    const QString csv = f.dir.filePath(QStringLiteral("spectrum.csv"));
    QVERIFY2(f.dialog->SaveSpectrumCsv(csv, &error), qPrintable(error));
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.front(), QByteArray("entry,frequency_hz,level_db"));
    QVERIFY(lines[4].startsWith("3,"));
    QVERIFY(lines[4].endsWith(",-12.5"));

    const QString png = f.dir.filePath(QStringLiteral("plot.png"));
    QVERIFY2(f.dialog->SavePlotPng(png, &error), qPrintable(error));
    const QImage image(png);
    QCOMPARE(image.width(), f.dialog->width());
    QVERIFY(image.height() > 300);

    // Into a folder that does not exist: a reason that names the path, and no file.
    const QString missing = f.dir.filePath(QStringLiteral("no/such/dir/plot.png"));
    error.clear();
    QVERIFY(!f.dialog->SavePlotPng(missing, &error));
    QVERIFY2(error.contains(missing), qPrintable(error));
    QVERIFY(!f.dialog->SaveSpectrumCsv(f.dir.filePath(QStringLiteral("no/x.csv")), &error));
    // Over a folder: refused, and the folder is still a folder.
    QVERIFY(QDir(f.dir.path()).mkdir(QStringLiteral("taken")));
    QVERIFY(!f.dialog->SavePlotPng(f.dir.filePath(QStringLiteral("taken")), &error));
    QVERIFY(QFileInfo(f.dir.filePath(QStringLiteral("taken"))).isDir());
    QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{QStringLiteral("plot.png"), QStringLiteral("spectrum.csv")}));

    f.dialog->CopyMeasurements();
    QVERIFY(QGuiApplication::clipboard()->text().contains(QStringLiteral("1800")));
}

void TestDialog::textsKeepTheirPointUnderACommaLocale() {
    const CCommaLocale locale;
    QVERIFY2(locale.Error().empty(), locale.Error().c_str());
    DialogFixture f;
    f.Start();
    f.state->sampleRate = 6000;
    f.dialog->resize(600, 500);
    f.dialog->grab();
    f.area.markerX = 200;
    f.area.markerY = 250;
    f.dialog->OnMouseMove(QPoint(315, 300));
    QCOMPARE(f.Control<QLineEdit>(IDC_CURSOR)->text(), QStringLiteral("1.50KHz  -65.7dBm"));
    QCOMPARE(f.Control<QLineEdit>(IDC_MARKER)->text(), QStringLiteral("627.3Hz  -31.7dB"));

    f.state->sampleCount = 128;
    f.state->fundamentalBin = 5;
    f.state->fundamentalLevel = 8.25;
    f.state->thdEnabled = 1;
    FormatResultTexts(*f.state);
    f.dialog->ShowValues();
    QCOMPARE(f.Control<QLineEdit>(IDC_AMPLITUDE)->text(), QStringLiteral("8.2 dBm"));
    QVERIFY2(!f.Control<QLineEdit>(IDC_THD)->text().contains(QLatin1Char(',')),
             qPrintable(f.Control<QLineEdit>(IDC_THD)->text()));

    const FrequencyLabels labels = FormatFrequencyLabels(1800);
    QCOMPARE(labels.rightEnd, std::string("900.0Hz"));
    QCOMPARE(FormatFrequencyLabels(6000).fraction[0], std::string("0.60KHz"));
}

QTEST_MAIN(TestDialog)
#include "test_dialog.moc"
