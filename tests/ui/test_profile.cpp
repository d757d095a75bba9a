// The INI profile (location, numbers, atomic saves, unparsable files) and the
// command line of `pelkor`.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "ui/ini_profile.h"
#include "ui/options.h"

Q_DECLARE_METATYPE(std::vector<std::string>)

class TestProfile : public QObject {
    Q_OBJECT
  private slots:
    void locationFollowsXdgConfigHome_data();
    void locationFollowsXdgConfigHome();
    void readInt_data();
    void readInt();
    void writeIsDecimalTextAndLeavesNoTemporaryFile();
    void writeCreatesTheFolder();
    void unparsableFileIsNeitherUsedNorOverwritten();
    void failedSaveIsReportedOnce();
    void portsSectionReadsAsText();
    void options_data();
    void options();
    void badOptions_data();
    void badOptions();
};

void TestProfile::locationFollowsXdgConfigHome_data() {
    QTest::addColumn<QByteArray>("xdg");
    QTest::addColumn<QString>("expected");
    QTest::newRow("set") << QByteArray("/tmp/cfg") << QStringLiteral("/tmp/cfg/pelkor/pelkor.INI");
    QTest::newRow("unset") << QByteArray()
                           << QDir::homePath() + QStringLiteral("/.config/pelkor/pelkor.INI");
    QTest::newRow("relative is ignored")
        << QByteArray("cfg") << QDir::homePath() + QStringLiteral("/.config/pelkor/pelkor.INI");
}

void TestProfile::locationFollowsXdgConfigHome() {
    QFETCH(QByteArray, xdg);
    QFETCH(QString, expected);
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    if (xdg.isNull()) {
        qunsetenv("XDG_CONFIG_HOME");
    } else {
        qputenv("XDG_CONFIG_HOME", xdg);
    }
    QCOMPARE(DefaultProfilePath(QStringLiteral("pelkor")), expected);
    qputenv("XDG_CONFIG_HOME", saved);
}

void TestProfile::readInt_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("decimal") << QByteArray("12") << 12;
    QTest::newRow("negative") << QByteArray("-3") << -3;
    QTest::newRow("blanks around") << QByteArray("  7 ") << 7;
    QTest::newRow("word") << QByteArray("four") << 99;
    QTest::newRow("trailing junk") << QByteArray("12abc") << 99;
    QTest::newRow("empty") << QByteArray("") << 99;
    QTest::newRow("fraction") << QByteArray("1.5") << 99;
    QTest::newRow("hex") << QByteArray("0x10") << 99;
    QTest::newRow("list") << QByteArray("1,2") << 99;
    QTest::newRow("beyond int") << QByteArray("3000000000") << 99;
}

void TestProfile::readInt() {
    QFETCH(QByteArray, value);
    QFETCH(int, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.INI"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[MyOrvanelAp]\nChannelSelection=" + value + "\n");
    file.close();
    CIniProfile profile(path);
    QCOMPARE(profile.ReadInt("MyOrvanelAp", "ChannelSelection", 99), expected);
    QCOMPARE(profile.ReadInt("MyOrvanelAp", "Missing", 5), 5);
    QCOMPARE(profile.ReadInt("Other", "ChannelSelection", 6), 6);
}

void TestProfile::writeIsDecimalTextAndLeavesNoTemporaryFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pelkor.INI"));
    {
        CIniProfile profile(path);
        profile.WriteInt("MyOrvanelAp", "NumSampleSelection", 4);
        profile.WriteInt("MyOrvanelAp", "ChannelSelection", -2);
        QVERIFY(profile.LastError().isEmpty());
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.contains("[MyOrvanelAp]"));
    QVERIFY(text.contains("NumSampleSelection=4"));
    QVERIFY(text.contains("ChannelSelection=-2"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("pelkor.INI")});
    QCOMPARE(CIniProfile(path).ReadInt("MyOrvanelAp", "ChannelSelection", 0), -2);
}

void TestProfile::writeCreatesTheFolder() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pelkor/pelkor.INI"));
    CIniProfile profile(path);
    profile.WriteInt("MyOrvanelAp", "OrvanelComPort", 5);
    QVERIFY(QFile::exists(path));
    QCOMPARE(CIniProfile(path).ReadInt("MyOrvanelAp", "OrvanelComPort", 0), 5);
}

void TestProfile::unparsableFileIsNeitherUsedNorOverwritten() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pelkor.INI"));
    const QByteArray garbage("[MyOrvanelAp\nChannelSelection=3\n\x01\x02[[[=\n");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(garbage);
    file.close();
    CIniProfile profile(path);
    QVERIFY(!profile.LastError().isEmpty());
    QVERIFY(profile.LastError().contains(path));
    profile.WriteInt("MyOrvanelAp", "ChannelSelection", 5);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), garbage);
}

void TestProfile::failedSaveIsReportedOnce() {
    QTemporaryDir dir;
    // A regular file where the profile's folder should be: no save can work,
    // whoever runs the test (root included).
    QFile blocker(dir.filePath(QStringLiteral("pelkor")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    CIniProfile profile(dir.filePath(QStringLiteral("pelkor/pelkor.INI")));
    QStringList reports;
    profile.SetSaveFailedHandler([&](const QString& reason) { reports << reason; });

    profile.WriteInt("MyOrvanelAp", "ChannelSelection", 2);
    profile.WriteInt("MyOrvanelAp", "ChannelSelection", 3);
    QCOMPARE(reports.size(), 1);
    QVERIFY(reports.first().contains(QStringLiteral("pelkor.INI")));
    QVERIFY(!profile.LastError().isEmpty());
}

void TestProfile::portsSectionReadsAsText() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.INI"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Ports]\nCOM3=/dev/serial/by-id/usb-FTDI_X-if00-port0\n");
    file.close();
    CIniProfile profile(path);
    QCOMPARE(profile.ReadString("Ports", "COM3", ""),
             std::string("/dev/serial/by-id/usb-FTDI_X-if00-port0"));
    QCOMPARE(profile.ReadString("Ports", "COM4", "none"), std::string("none"));
}

void TestProfile::options_data() {
    QTest::addColumn<std::vector<std::string>>("args");
    QTest::addColumn<bool>("demo");
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("com3");
    QTest::newRow("none") << std::vector<std::string>{} << false << QString() << QString();
    QTest::newRow("demo") << std::vector<std::string>{"--demo"} << true << QString() << QString();
    QTest::newRow("profile and port")
        << std::vector<std::string>{"--profile", "/tmp/x.INI", "--port", "COM3=/dev/ttyUSB0"}
        << false << QStringLiteral("/tmp/x.INI") << QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("with =") << std::vector<std::string>{"--port=com3=/dev/ttyACM0", "--demo"}
                            << true << QString() << QStringLiteral("/dev/ttyACM0");
}

void TestProfile::options() {
    QFETCH(std::vector<std::string>, args);
    QFETCH(bool, demo);
    QFETCH(QString, profile);
    QFETCH(QString, com3);
    AppOptions options;
    std::string error;
    QVERIFY2(ParseAppOptions(args, &options, &error), error.c_str());
    QCOMPARE(options.demo, demo);
    QCOMPARE(QString::fromStdString(options.profilePath), profile);
    const auto it = options.ports.find(3);
    QCOMPARE(it == options.ports.end() ? QString() : QString::fromStdString(it->second), com3);
}

void TestProfile::badOptions_data() {
    QTest::addColumn<std::vector<std::string>>("args");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("unknown") << std::vector<std::string>{"--fast"} << "--fast";
    QTest::newRow("positional") << std::vector<std::string>{"COM3"} << "COM3";
    QTest::newRow("port without value") << std::vector<std::string>{"--port"} << "--port";
    QTest::newRow("port 17") << std::vector<std::string>{"--port", "COM17=/dev/x"} << "COM17";
    QTest::newRow("port no path") << std::vector<std::string>{"--port", "COM2="} << "COM2";
    QTest::newRow("relative path") << std::vector<std::string>{"--port", "COM2=tty"} << "tty";
    QTest::newRow("empty profile") << std::vector<std::string>{"--profile="} << "--profile";
    QTest::newRow("demo with value") << std::vector<std::string>{"--demo=1"} << "--demo";
}

void TestProfile::badOptions() {
    QFETCH(std::vector<std::string>, args);
    QFETCH(QString, mentions);
    AppOptions options;
    options.demo = true;
    std::string error;
    QVERIFY(!ParseAppOptions(args, &options, &error));
    QVERIFY2(QString::fromStdString(error).contains(mentions), error.c_str());
    QVERIFY(options.demo);  // left as it was
}

QTEST_APPLESS_MAIN(TestProfile)
#include "test_profile.moc"
