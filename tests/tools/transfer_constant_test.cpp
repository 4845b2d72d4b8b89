// The transfer-constant window driven through its controls: the browse rule, the refusals before
// any file is read, a short run answered through both warnings, and the results shown.
#include "camera_test_support.h"

#include "image_file.h"
#include "program_windows.h"
#include "transfer_constant.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStatusBar>

using namespace korvi::test;
namespace sim = korvi::sim;

namespace
{

class TransferConstantWindowTest : public MainWindowTest
{
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        CreateProgramWindows(window.get());
        ASSERT_NE(XferConstF, nullptr);
        w = XferConstF;
    }
    std::string WriteFrame(const std::string &name, int width, int height, int f, bool lit)
    {
        ImageData image;
        EXPECT_TRUE(image.Allocate(width, height, 1));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.FrameRow(0, y)[x] =
                    static_cast<std::uint16_t>(lit ? 1000 + 40 * x + (x * 7 + y * 13 + f * 31) % (5 + x)
                                                   : 1000 + (x * 3 + y * 5 + f * 7) % 5);
        const std::string path = (folder.path() / name).string();
        EXPECT_TRUE(SaveImageFile(path, 0, image));
        return path;
    }
    void ChooseSeries(QPushButton *browse, const std::string &file)
    {
        ModalScript modals;
        modals.ExpectOpenFiles({QString::fromStdString(file)}, QStringLiteral("Get file prefix of"));
        browse->click();
    }

    TXferConstF *w = nullptr;
};

} // namespace

TEST_F(TransferConstantWindowTest, ShortSeriesAfterBothWarningsWritesAndFitsTheData)
{
    for (int f = 1; f <= 2; ++f) {
        WriteFrame("bias_" + std::to_string(f) + ".kvr", 60, 40, f, false);
        WriteFrame("flat_" + std::to_string(f) + ".kvr", 60, 40, f, true);
    }
    ChooseSeries(w->BrowseBtn1, (folder.path() / "bias_1.kvr").string());
    ChooseSeries(w->BrowseBtn3, (folder.path() / "flat_2.kvr").string());
    EXPECT_EQ(w->BiasFileName->text().toStdString(), (folder.path() / "bias_").string());
    EXPECT_EQ(w->ImageFileName->text().toStdString(), (folder.path() / "flat_").string());
    EXPECT_EQ(w->BiasExtension, ".kvr");
    w->LastExtNum1->setValue(2);
    w->LastExtNum2->setValue(2);
    w->NSamples->setValue(20);
    w->BinVal->setValue(2);
    const std::string out = (folder.path() / "stats.csv").string();
    w->OutFileName->setText(QString::fromStdString(out));
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("bias variance determination"),
                             QMessageBox::Yes);
        modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("image variance determination"),
                             QMessageBox::Yes);
        w->AnalyzeBtn->click();
    }
    EXPECT_EQ(w->StatusBar1->currentMessage(), "Ready.");
    const std::vector<std::string> lines = ReadLines(out);
    ASSERT_EQ(lines.size(), 20u);
    EXPECT_EQ(lines[9].substr(lines[9].size() - 3), ", 0");
    EXPECT_EQ(lines[10].substr(lines[10].size() - 3), ", 1");
    EXPECT_EQ(w->Records.size(), 20u);

    w->DetermineBtn->click();
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^Camera constant: \\d\\.\\d\\de[+-]\\d\\d electrons/ADU\\.$"))
            .match(w->CameraConst->text())
            .hasMatch())
        << w->CameraConst->text().toStdString();
    EXPECT_TRUE(w->Noise->text().startsWith(QStringLiteral("Electronic noise: ")));
    // The fitted line is drawn in green over the grey plot.
    EXPECT_GT(CountPixels(w->Plot, qRgb(0, 255, 0)), 0);
    EXPECT_GT(CountPixels(w->Plot, qRgb(255, 255, 0)), 0);

    // A lit frame of another size stops the run with a status and leaves the data file alone.
    WriteFrame("flat_2.kvr", 61, 40, 2, true);
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("bias variance"), QMessageBox::Yes);
        modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("image variance"), QMessageBox::Yes);
        w->AnalyzeBtn->click();
    }
    EXPECT_TRUE(w->StatusBar1->currentMessage().contains(QStringLiteral("61 x 40, not 60 x 40")));
    EXPECT_EQ(ReadLines(out), lines);
}

TEST_F(TransferConstantWindowTest, RefusalsBeforeAnyFileIsRead)
{
    struct Case {
        const char *name;
        int bin;
        const char *message;
    } cases[] = {
        {"QuotientOne", 300, "Binning value too large NSample/NBin must be less than 2."},
        {"QuotientTwoGoesOnToTheFiles", 250, "Could not find file: "},
    };
    w->BiasFileName->setText(QString::fromStdString((folder.path() / "none_").string()));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        w->NSamples->setValue(500);
        w->BinVal->setValue(c.bin);
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"), QString::fromLatin1(c.message), QMessageBox::Ok);
        w->AnalyzeBtn->click();
    }
    // Prefixes typed by hand get their extension from the files; an empty or unwritable data
    // file name is refused before any frame is analysed.
    for (int f = 1; f <= 2; ++f) {
        WriteFrame("bias_" + std::to_string(f) + ".kvr", 60, 40, f, false);
        WriteFrame("flat_" + std::to_string(f) + ".kvr", 60, 40, f, true);
    }
    w->BiasFileName->setText(QString::fromStdString((folder.path() / "bias_").string()));
    w->ImageFileName->setText(QString::fromStdString((folder.path() / "flat_").string()));
    w->BiasExtension.clear();
    w->ImageExtension.clear();
    w->LastExtNum1->setValue(2);
    w->LastExtNum2->setValue(2);
    w->NSamples->setValue(20);
    w->BinVal->setValue(2);
    const std::string missing = (folder.path() / "no-such-folder" / "stats.csv").string();
    for (const auto &[name, message] :
         {std::pair{std::string(),
                    std::string("Enter the name of the output data file; nothing was analysed.")},
          std::pair{missing, "Could not open " + missing +
                                 " to write (check that the folder exists and can be written); nothing was "
                                 "analysed."}}) {
        w->OutFileName->setText(QString::fromStdString(name));
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"), QString::fromStdString(message), QMessageBox::Ok);
        w->AnalyzeBtn->click();
    }
    EXPECT_EQ(w->BiasExtension, ".kvr");
    w->BiasFileName->setText(QString::fromStdString((folder.path() / "none_").string()));

    // A name without "_" cannot give a prefix.
    const std::string plain = WriteFrame("plain.kvr", 60, 40, 0, false);
    ModalScript modals;
    modals.ExpectOpenFiles({QString::fromStdString(plain)}, QStringLiteral("Get file prefix of bias frames"));
    modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("Could not parse filename."),
                         QMessageBox::Ok);
    w->BrowseBtn1->click();
    EXPECT_EQ(w->BiasFileName->text().toStdString(), (folder.path() / "none_").string());
}
