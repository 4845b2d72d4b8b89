// The periodic temperature read-out of the main window while the simulated cooler settles on the
// target; the process time scale makes a minute of cooling pass in a fraction of a second.
#include "camera_test_support.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <cmath>

using namespace korvi::test;

namespace
{

class CoolingTest : public MainWindowTest
{
};

// The temperature the label shows, or NaN when it shows none.
double ShownTemperature(const QLabel *label)
{
    const QString prefix = QStringLiteral("Imaging camera CCD temperature: ");
    const QString suffix = QStringLiteral(" \u00B0C");
    const QString text = label->text();
    if (!text.startsWith(prefix) || !text.endsWith(suffix))
        return std::nan("");
    bool ok = false;
    const double value = text.mid(prefix.size(), text.size() - prefix.size() - suffix.size()).toDouble(&ok);
    return ok ? value : std::nan("");
}

} // namespace

TEST_F(CoolingTest, PeriodicReadOutFollowsTheCoolerDownToTheTarget)
{
    window->TEPowerUpBtn->click();
    window->CCDTargetTemp->setValue(-10);
    window->SendTargetTempBtn->click();
    window->TempUDPeriod->setValue(1);
    window->TempUpdate->click();
    ASSERT_TRUE(window->TempUDTimer->isActive());

    std::vector<double> shown;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const double t = ShownTemperature(window->CCD0Temp);
        if (!std::isnan(t) && (shown.empty() || shown.back() != t))
            shown.push_back(t);
    });
    sampler.start(1);
    const bool settled = WaitUntil([&] { return !shown.empty() && shown.back() == -10.0; }, 20000);
    sampler.stop();
    ASSERT_TRUE(settled) << "last read-out " << (shown.empty() ? 999.0 : shown.back());
    // Several read-outs on the way down from the 20 degrees the sensor started at, each one colder.
    ASSERT_GE(shown.size(), 3u);
    EXPECT_LT(shown.front(), 20.0);
    for (std::size_t i = 1; i < shown.size(); ++i)
        EXPECT_LT(shown[i], shown[i - 1]) << "read-out " << i;

    // Unticking stops the read-outs at once.
    window->TempUpdate->click();
    korvi::sim::ClearCallLog();
    QTest::qWait(200);
    EXPECT_TRUE(Written().empty());
}
