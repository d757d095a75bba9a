// Real instruments on Linux, with the stand-in instrument behind fake device
// trees: a fresh profile connects to a USB adapter on COM3, the tool tip says
// which device that is, the "Serial ports" window renumbers and forgets, and an
// adapter pulled and plugged back is reconnected by itself.
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "comlink/device_map.h"
#include "comlink/port.h"
#include "comlink/serial_discovery.h"
#include "instrument/instrument.h"
#include "tests/comlink/fake_serial_tree.h"
#include "ui/ini_profile.h"
#include "ui/port_watch.h"
#include "ui/serial_ports.h"
#include "ui/serial_ports_dlg.h"
#include "ui/spectrum_dlg.h"

namespace {

const char* const kLinkName = "usb-Pelkor_Stand-in_Instrument_PK000042-if00-port0";

// The real dialog and connection; boxes are recorded, never shown.
class CPortsDialog final : public CSpectrumDlg {
  public:
    using CSpectrumDlg::CSpectrumDlg;
    QStringList boxes;

  protected:
    void ShowMessageBox(const QString& text) override { boxes << text; }
};

}  // namespace

class TestPorts : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void freshProfileConnectsToTheAdapterOnCom3();
    void serialPortsWindowRenumbersAndForgets();
    void replugReconnectsByItself();
    void replugRule_data();
    void replugRule();

  private:
    void PlugStandIn(instrument::PtyHost& host);
    void StartDialog();
    QString Status() const {
        return dialog_->findChild<QLineEdit*>(ControlName(IDC_PORT_STATUS))->text();
    }

    std::unique_ptr<FakeSerialTree> tree_;
    DiscoveryOs os_;
    QTemporaryDir dir_;
    std::unique_ptr<instrument::PtyHost> host_;
    std::unique_ptr<MeasurementState> state_;
    PlotArea area_;
    std::unique_ptr<CIniProfile> profile_;
    std::unique_ptr<CPortsDialog> dialog_;
};

void TestPorts::init() {
    tree_ = std::make_unique<FakeSerialTree>();
    os_ = tree_->Os();
    SetActiveDiscoveryOs(&os_);
    state_ = std::make_unique<MeasurementState>();
    QFile::remove(dir_.filePath(QStringLiteral("pelkor.INI")));
    profile_ = std::make_unique<CIniProfile>(dir_.filePath(QStringLiteral("pelkor.INI")));
}

void TestPorts::cleanup() {
    if (dialog_) dialog_->close();
    ReleaseConnection(*state_);
    dialog_.reset();
    SerialPorts().Reset();
    ClearComDevices();
    SetActiveDiscoveryOs(nullptr);
    if (host_) host_->Stop();
    host_.reset();
    tree_.reset();
}

// The stand-in instrument as a USB adapter: /dev/ttyUSB0 leads to its pty, with a
// by-id name, sysfs attributes and all.
void TestPorts::PlugStandIn(instrument::PtyHost& host) {
    tree_->AddUsb({"ttyUSB0", "ftdi_sio", "0403", "6001", "Pelkor", "Stand-in Instrument",
                   "PK000042", kLinkName, host.SlavePath()});
}

void TestPorts::StartDialog() {
    SerialPorts().SetUp(profile_.get(), {});
    dialog_ = std::make_unique<CPortsDialog>(*state_, area_, *profile_);
    dialog_->OnInitDialog();
}

void TestPorts::freshProfileConnectsToTheAdapterOnCom3() {
    host_ = std::make_unique<instrument::PtyHost>(instrument::Options());
    std::string error;
    QVERIFY2(host_->Start(&error), error.c_str());
    PlugStandIn(*host_);
    StartDialog();

    QCOMPARE(Status(), QStringLiteral("COM3:Ready"));
    QCOMPARE(state_->connected, 1);
    const QString byId = QString::fromStdString(tree_->ByIdPath(kLinkName));
    QCOMPARE(CIniProfile(profile_->Path()).ReadString(kPortsSection, "COM3", ""),
             byId.toStdString());
    QCOMPARE(dialog_->findChild<QLineEdit*>(ControlName(IDC_PORT_STATUS))->toolTip(),
             QStringLiteral("COM3: ") + byId +
                 QStringLiteral(" (Stand-in Instrument, serial PK000042)"));
    QVERIFY(dialog_->boxes.isEmpty());
}

void TestPorts::serialPortsWindowRenumbersAndForgets() {
    tree_->AddUsb({"ttyUSB0", "ftdi_sio", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI",
                   kLinkName, ""});
    tree_->AddUart("ttyS0", 4);
    SerialPorts().SetUp(profile_.get(), {});
    const std::string byId = tree_->ByIdPath(kLinkName);

    CSerialPortsDlg window(SerialPorts());
    QTableWidget* table = window.Table();
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("COM1"));
    QCOMPARE(table->item(1, 0)->text(), QStringLiteral("COM3"));
    QCOMPARE(table->item(1, 2)->text(), QStringLiteral("FT232R USB UART, serial A50285BI"));
    QCOMPARE(table->item(1, 3)->text(), QStringLiteral("present"));

    // COM1 is the UART's own number, not an entry: nothing to renumber.
    QVERIFY(window.SelectPort(1));
    QVERIFY(!window.GiveNumber(5));

    QVERIFY(window.SelectPort(3));
    QVERIFY2(window.GiveNumber(5), qPrintable(window.Message()));
    CIniProfile saved(profile_->Path());
    QCOMPARE(saved.ReadString(kPortsSection, "COM5", ""), byId);
    QCOMPARE(saved.ReadString(kPortsSection, "COM3", ""), std::string());
    QCOMPARE(ComDevicePath(5), byId);
    QCOMPARE(ComDevicePath(3), std::string("/dev/ttyS2"));

    // Unplugged, it keeps its number and shows as absent; forgotten, it is gone.
    tree_->Unplug("ttyUSB0", kLinkName);
    window.Refresh();
    QVERIFY(window.SelectPort(5));
    QCOMPARE(table->item(table->currentRow(), 3)->text(), QStringLiteral("absent"));
    QVERIFY2(window.ForgetSelected(), qPrintable(window.Message()));
    QCOMPARE(CIniProfile(profile_->Path()).ReadString(kPortsSection, "COM5", ""), std::string());
    QVERIFY(!window.SelectPort(5));
}

void TestPorts::replugReconnectsByItself() {
    host_ = std::make_unique<instrument::PtyHost>(instrument::Options());
    std::string error;
    QVERIFY2(host_->Start(&error), error.c_str());
    const std::string link = dir_.filePath(QStringLiteral("by-id-instrument")).toStdString();
    QVERIFY2(host_->Link(link, &error), error.c_str());
    QVERIFY(SetComDevice(3, link, &error));
    dialog_ = std::make_unique<CPortsDialog>(*state_, area_, *profile_);
    dialog_->OnInitDialog();
    QCOMPARE(Status(), QStringLiteral("COM3:Ready"));
    CPortWatch* watch = dialog_->findChild<CPortWatch*>();
    QVERIFY(watch != nullptr);
    watch->Check();  // takes note of the device in use
    const CComPort* first = state_->port;

    // Pulled: the link goes with it. Nothing to reconnect to, so nothing happens.
    host_->Stop();
    QVERIFY(!std::filesystem::exists(link));
    watch->Check();
    QCOMPARE(state_->port, first);

    // Plugged back under the same name: a new pty behind the same link.
    auto again = std::make_unique<instrument::PtyHost>(instrument::Options());
    QVERIFY2(again->Start(&error), error.c_str());
    QVERIFY2(again->Link(link, &error), error.c_str());
    host_ = std::move(again);
    // The new instrument hears the handshake: the dialog connected to it by itself.
    QTRY_COMPARE_WITH_TIMEOUT(state_->connected == 1 && !host_->ReceivedBytes().empty(), true,
                              20000);
    QCOMPARE(Status(), QStringLiteral("COM3:Ready"));
    QVERIFY2(dialog_->boxes.isEmpty(), qPrintable(dialog_->boxes.join(QLatin1Char('|'))));
    QCOMPARE(state_->port->devicePath, link);
}

// The rule over a fake port and identities: when it reconnects, and when not.
void TestPorts::replugRule_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("expected");
    // Each step: connected|lost|failed, then the identity of the path ("" absent),
    // then an optional "busy" or "com4". expected: one letter per step, R = reconnect.
    QTest::newRow("healthy stays") << QStringList{"connected a", "connected a"} << "..";
    QTest::newRow("lost and back")
        << QStringList{"connected a", "lost a", "lost ", "lost b"} << "...R";
    QTest::newRow("replugged unnoticed") << QStringList{"connected a", "connected b"} << ".R";
    QTest::newRow("dead node still held")
        << QStringList{"connected a", "lost a", "lost a"} << "...";
    QTest::newRow("never inside a cycle")
        << QStringList{"connected a", "lost b busy", "lost b"} << "..R";
    QTest::newRow("not for another number")
        << QStringList{"connected a", "failed b com4", "failed b com4"} << "...";
    QTest::newRow("three tries per appearance")
        << QStringList{"connected a", "failed b", "failed b", "failed b", "failed b", "failed c"}
        << ".RRR.R";
    QTest::newRow("never ready, never retried") << QStringList{"failed a", "failed b"} << "..";
}

void TestPorts::replugRule() {
    QFETCH(QStringList, steps);
    QFETCH(QString, expected);
    MeasurementState state;
    CComPort port;  // only its error and path are read
    port.devicePath = "/dev/serial/by-id/x";
    CReplugRule rule;
    QString got;
    for (const QString& step : steps) {
        const QStringList parts = step.split(QLatin1Char(' '));
        const QString kind = parts[0];
        const std::string id = parts.value(1).toStdString();
        state.busy = parts.contains(QStringLiteral("busy")) ? 1 : 0;
        state.comPort = parts.contains(QStringLiteral("com4")) ? 4 : 3;
        state.connected = kind == QStringLiteral("connected") ? 1 : 0;
        state.port = kind == QStringLiteral("failed") && id.empty() ? nullptr : &port;
        port.errorCode = kind == QStringLiteral("lost") ? CL_ERR_DEVICE : 0;
        if (kind == QStringLiteral("lost"))
            state.connected = 1;  // the cycle noticed, the flag stayed
        got += rule.Check(state, [&](const std::string&) { return id; }) ? QLatin1Char('R')
                                                                         : QLatin1Char('.');
    }
    state.port = nullptr;
    QCOMPARE(got, expected);
}

QTEST_MAIN(TestPorts)
#include "test_ports.moc"
