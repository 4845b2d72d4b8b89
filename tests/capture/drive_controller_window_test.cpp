// The drive-controller window against the simulated controller: the bytes of every command, the
// EEPROM programmed, read back and reset, the settings file through its dialogs, and the refusals
// that keep bad input off the wire.
#include "camera_test_support.h"

#include "drive_controller_window.h"
#include "program_windows.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>

using namespace korvi::test;
namespace sim = korvi::sim;

namespace
{

class DriveControllerWindowTest : public MainWindowTest
{
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        CreateProgramWindows(window.get());
        ASSERT_NE(TelescopeCtrlF, nullptr);
        ASSERT_EQ(window->ProgramWindow("TTelescopeCtrlF"), TelescopeCtrlF);
        w = TelescopeCtrlF;
        sim::ClearCallLog();
    }
    // A frame header: (sub-command << 8) | 90, payload and reply byte counts.
    static Bytes Header(int sub, int payload, int reply)
    {
        return MakeBytes({90, sub, payload & 0xFF, payload >> 8, reply & 0xFF, reply >> 8});
    }
    static Bytes Frame(int sub, int reply, const std::vector<int> &words)
    {
        Bytes bytes = Header(sub, static_cast<int>(words.size()) * 2, reply);
        for (int word : words) {
            bytes.push_back(static_cast<std::uint8_t>(word & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>(word >> 8));
        }
        return bytes;
    }
    std::string WriteTrackingFile(int lines)
    {
        std::string text;
        for (int i = 0; i < lines; ++i)
            text += std::to_string((i * 137) % 65536) + "\n";
        const std::string path = (folder.path() / "track.txt").string();
        WriteFileBytes(path, text);
        return path;
    }

    TTelescopeCtrlF *w = nullptr;
};

} // namespace

TEST_F(DriveControllerWindowTest, EveryCommandsBytesOnTheWire)
{
    struct Case {
        const char *name;
        std::function<void(TTelescopeCtrlF &)> press;
        Bytes sent;
    } cases[] = {
        {"SiderealRates", [](TTelescopeCtrlF &t) { t.SendSettingsBtn->click(); },
         Frame(10, 0, {1833, 2, 8222, 135})},
        {"SolarRates",
         [](TTelescopeCtrlF &t) {
             t.SolarRateBtn->click();
             t.WormPeriod->setValue(31);
             t.PECDetent->setValue(4095);
             t.SendSettingsBtn->click();
         },
         Frame(10, 0, {1844, 0, 0xFFFF, 135})},
        {"WriteConfiguration",
         [](TTelescopeCtrlF &t) {
             t.lunar_delay->setValue(2000);
             t.InvertNS->setChecked(true);
             t.WriteConfigBtn->click();
         },
         Frame(30, 0, {1833, 1833, 1846, 2000, 1833, 500, 135, 30, 32, 833, 833, 0x0202})},
        {"ReadConfiguration", [](TTelescopeCtrlF &t) { t.ReadConfigBtn->click(); }, Header(40, 0, 24)},
        {"TestIO", [](TTelescopeCtrlF &t) { t.TestIOBtn->click(); }, Frame(1, 2, {54321})},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim::ClearCallLog();
        c.press(*w);
        EXPECT_EQ(Written(), std::vector<Bytes>{c.sent});
    }
    EXPECT_EQ(w->StatusLabel->text(), "Integer received: 12345 (expected 12345)");
    EXPECT_EQ(sim::GetSnapshot().drive.rates, (std::array<std::uint16_t, 4>{1844, 0, 0xFFFF, 135}));
}

TEST_F(DriveControllerWindowTest, ReadConfigurationFillsTheSpins)
{
    sim::ClearCallLog();
    w->lunar_delay->setValue(2000);
    w->InvertNS->setChecked(true);
    w->InvertEW->setChecked(true);
    w->function->setValue(3);
    w->WriteConfigBtn->click();
    w->ShowConfiguration(DriveConfiguration{});
    w->ReadConfigBtn->click();
    EXPECT_EQ(w->lunar_delay->value(), 2000);
    EXPECT_EQ(w->function->value(), 3);
    EXPECT_TRUE(w->InvertEW->isChecked());
    EXPECT_TRUE(w->InvertNS->isChecked());
}

TEST_F(DriveControllerWindowTest, BadRatesAreRefusedBeforeAnythingIsSent)
{
    for (const char *rate : {"0", "abc", "-60", ""}) {
        SCOPED_TRACE(rate);
        w->Rate->setText(QString::fromLatin1(rate));
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("The rate must be a number above 0 Hz."),
                             QMessageBox::Ok);
        w->SendSettingsBtn->click();
    }
    EXPECT_TRUE(Written().empty());
}

TEST_F(DriveControllerWindowTest, EepromProgramReadAndResetRoundTrip)
{
    w->TrackingFile->setText(QString::fromStdString(WriteTrackingFile(480)));
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"),
                             QStringLiteral("KEDRO EEPROM will be erased and reprogrammed"), QMessageBox::Ok);
        w->ProgramEEPROMBtn->click();
    }
    const std::vector<Bytes> written = Written();
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(Bytes(written[0].begin(), written[0].begin() + 6), Header(20, 960, 0));
    EXPECT_EQ(written[0].size(), 966u);
    const auto memory = sim::GetSnapshot().drive.memory;
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ(memory[i], i < 480 ? (i * 137) % 65536 : i < 500 ? 1833 : 0) << i;

    // Read back: the dump is written under the chosen name with ".txt".
    const std::string chosen = (folder.path() / "dump.dat").string();
    const std::string dump = (folder.path() / "dump.txt").string();
    sim::ClearCallLog();
    {
        ModalScript modals;
        modals.ExpectSaveFile(QString::fromStdString(chosen), QStringLiteral("Save EEPROM data"));
        w->ReadEEPROMBtn->click();
    }
    EXPECT_EQ(Written(), std::vector<Bytes>{Header(21, 0, 1024)});
    std::vector<std::string> lines = ReadLines(dump);
    ASSERT_EQ(lines.size(), 512u);
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ(lines[i], std::to_string(memory[i])) << i;

    // Reset to the default rate, then read again over the existing dump.
    sim::ClearCallLog();
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("KEDRO EEPROM will be erased"),
                             QMessageBox::Ok);
        w->DefaultRateBtn->click();
    }
    ASSERT_EQ(Written().size(), 1u);
    EXPECT_EQ(Written()[0], Frame(20, 0, std::vector<int>(500, 1833)));
    {
        ModalScript modals;
        modals.ExpectSaveFile(QString::fromStdString(chosen), QStringLiteral("Save EEPROM data"));
        modals.ExpectMessage(QStringLiteral("Korvi"),
                             QStringLiteral("The existing file will be overwritten; proceed?"),
                             QMessageBox::Ok);
        w->ReadEEPROMBtn->click();
    }
    lines = ReadLines(dump);
    ASSERT_EQ(lines.size(), 512u);
    EXPECT_EQ(lines[0], "1833");
    EXPECT_EQ(lines[499], "1833");
    EXPECT_EQ(lines[500], "0");
}

// A controller that sends nothing back: the test word is not taken for its answer, no dump file
// claims to hold a memory that was not read, and the spins keep their values.
TEST_F(DriveControllerWindowTest, ASilentControllerIsReportedAndWritesNoDump)
{
    sim::Faults silent;
    silent.noReply = true;
    sim::SetFaults(silent);
    const QString usb = QStringLiteral("Korvi USB device error");
    {
        ModalScript modals;
        modals.ExpectMessage(usb, QString(), QMessageBox::Ok);
        w->TestIOBtn->click();
        EXPECT_EQ(modals.Pending(), 0);
    }
    EXPECT_EQ(w->StatusLabel->text(), QStringLiteral("Status: no reply from the drive controller."));

    const std::string chosen = (folder.path() / "silent.txt").string();
    {
        ModalScript modals;
        modals.ExpectSaveFile(QString::fromStdString(chosen), QStringLiteral("Save EEPROM data"));
        modals.ExpectMessage(usb, QString(), QMessageBox::Ok);
        modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("did not send its EEPROM contents"),
                             QMessageBox::Ok);
        w->ReadEEPROMBtn->click();
        EXPECT_EQ(modals.Pending(), 0);
    }
    EXPECT_FALSE(std::filesystem::exists(chosen));

    w->period_delay->setValue(1234);
    {
        ModalScript modals;
        modals.ExpectMessage(usb, QString(), QMessageBox::Ok);
        modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("did not send its configuration"),
                             QMessageBox::Ok);
        w->ReadConfigBtn->click();
        EXPECT_EQ(modals.Pending(), 0);
    }
    EXPECT_EQ(w->period_delay->value(), 1234);
    sim::ClearFaults();
}

TEST_F(DriveControllerWindowTest, BadOrMissingTrackingFileNeverErasesTheController)
{
    struct Case {
        const char *name;
        std::string file;
        const char *message;
        bool asked;
    } cases[] = {
        {"Short", WriteTrackingFile(479), "holds 479 values; 480 are needed.", false},
        {"Missing", (folder.path() / "none.txt").string(), "Could not open file (file not found).", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        w->TrackingFile->setText(QString::fromStdString(c.file));
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"), QString::fromLatin1(c.message), QMessageBox::Ok);
        w->ProgramEEPROMBtn->click();
    }
    // A good file but Cancel to the question.
    w->TrackingFile->setText(QString::fromStdString(WriteTrackingFile(480)));
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("KEDRO EEPROM will be erased"),
                             QMessageBox::Cancel);
        w->ProgramEEPROMBtn->click();
    }
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(sim::GetSnapshot().drive.memory[0], 1833);
}

TEST_F(DriveControllerWindowTest, SettingsFileRoundTripThroughTheDialogs)
{
    const std::string path = (folder.path() / "Settings" / "Mine.txt").string();
    w->solar_delay->setValue(1900);
    w->PEC_detent->setValue(45);
    w->PEC_4N_cycles->setValue(64);
    w->function->setValue(0);
    w->InvertEW->setChecked(true);
    {
        ModalScript modals;
        modals.ExpectSaveFile(QString::fromStdString(path), QStringLiteral("Save telescope settings"));
        w->SaveSettingsBtn2->click();
    }
    EXPECT_EQ(ReadFileBytes(path),
              "1833\n1833\n1900\n1988\n1833\n500\n135\n45\n64\n833\n833\n0\ntrue\nfalse\n");
    w->ShowConfiguration(DriveConfiguration{});
    {
        ModalScript modals;
        modals.ExpectOpenFiles({QString::fromStdString(path)}, QStringLiteral("Load telescope settings"));
        w->LoadSettingsBtn->click();
    }
    EXPECT_EQ(w->solar_delay->value(), 1900);
    EXPECT_TRUE(w->InvertEW->isChecked());
    EXPECT_TRUE(w->SolarRateBtn->isChecked());
    EXPECT_EQ(w->PECDetent->value(), 90);
    EXPECT_EQ(w->WormPeriod->value(), 8);
    EXPECT_TRUE(Written().empty());
}

TEST_F(DriveControllerWindowTest, ShowingLoadsTheDefaultFileAndThePanelWritesTheSettings)
{
    DriveConfiguration stored;
    stored.sidereal_delay = 1700;
    stored.function = 1;
    ASSERT_TRUE(SaveDriveSettings((folder.path() / "Settings" / "TelescopeSet.txt").string(), stored));
    CurrentSettings().UseKEDRO = false;
    CurrentSettings().InvertEastWest = true;
    CurrentSettings().InvertNorthSouth = false;
    ASSERT_TRUE(ShowAndWait(w));
    EXPECT_EQ(w->sidereal_delay->value(), 1700);
    EXPECT_TRUE(w->MoonRateBtn->isChecked());
    EXPECT_TRUE(w->UseStandardInterface->isChecked());
    EXPECT_TRUE(w->InvertEastWest->isChecked());
    w->UseKEDRO->click();
    w->InvertNorthSouth->click();
    w->InvertEastWest->click();
    EXPECT_TRUE(CurrentSettings().UseKEDRO);
    EXPECT_TRUE(CurrentSettings().InvertNorthSouth);
    EXPECT_FALSE(CurrentSettings().InvertEastWest);
    window->RepaintRequest = false;
    w->close();
    EXPECT_TRUE(window->RepaintRequest);
}
