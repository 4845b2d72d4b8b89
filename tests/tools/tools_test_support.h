#pragma once
// The processing windows' tests: a started main window with its program windows and image
// windows opened on images made by a rule.
#include "capture_test_support.h"

#include "image_data.h"
#include "image_window.h"
#include "main_window.h"
#include "program_windows.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QTest>

#include <cstdint>
#include <functional>
#include <memory>

namespace korvi::test
{

class ToolsWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        main = std::make_unique<TMainF>(folder.Dir(), QStringList());
        CreateProgramWindows(main.get());
        main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
    }
    void TearDown() override
    {
        main->ClosingDone = true;
        main.reset();
    }
    // A new active image window whose pixel (x, y) is value(x, y).
    TChild *OpenImage(int width, int height, const std::function<int(int, int)> &value)
    {
        TChild *child = main->CreateImageWindow(height, width);
        ImageData &image = child->Image();
        image.Allocate(width, height, 1);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.FrameRow(0, y)[x] = static_cast<std::uint16_t>(value(x, y));
        image.TimeStamp = ++stamp;
        child->show();
        child->AttachToWindowMenu();
        child->FitToWindow();
        child->RenderImage();
        QApplication::processEvents();
        return child;
    }

    // A mouse move over widget sent to it directly (the pointer itself is shared by the tests
    // that run side by side on one screen).
    static void MoveMouse(QWidget *widget, QPoint position, Qt::MouseButtons buttons = Qt::NoButton)
    {
        QMouseEvent move(QEvent::MouseMove, QPointF(position), QPointF(widget->mapToGlobal(position)),
                         Qt::NoButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(widget, &move);
    }
    // Pixels of picture with exactly this RGB.
    static int CountPixels(const QImage &picture, QRgb colour)
    {
        int count = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                count += (picture.pixel(x, y) & 0xffffff) == (colour & 0xffffff);
        return count;
    }

    ProgramFolder folder;
    std::unique_ptr<TMainF> main;
    std::uint32_t stamp = 1000;
};

} // namespace korvi::test
