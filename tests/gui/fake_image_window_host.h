#pragma once
// A host for image windows in tests: records what the window asks of it and answers as set.
#include <string>
#include <vector>

#include <QString>

#include "image_render.h"
#include "image_window_host.h"

struct CrossSectionCall {
    int x0, y0, x1, y1;
};

class FakeImageWindowHost : public ImageWindowHost
{
public:
    // Answers.
    bool active = true;
    CrossSectionMode mode = CrossSectionMode::None;
    bool crossSectionVisible = false;
    bool saveSucceeds = true;
    bool repaintRequest = false;

    // Records.
    std::vector<QString> statusTexts;
    std::vector<std::pair<int, int>> magnifierPoints;
    int magnifierRepaints = 0;
    std::vector<CrossSectionCall> crossSections;
    std::vector<CrossSectionMode> shownModes;
    int hideClicks = 0;
    std::vector<std::pair<QString, std::int64_t>> menuItems;
    std::vector<std::int64_t> removedMenuItems;
    int limitCalls = 0;
    struct Save {
        std::string name;
        int format;
    };
    std::vector<Save> saves;
    int trimClicks = 0;
    int statsClicks = 0;
    int focusClicks = 0;
    std::vector<std::vector<int>> captureEdits;
    int activations = 0;

    bool IsActiveImageWindow(const TChild *) const override { return active; }
    void ImageWindowActivated(TChild *) override { ++activations; }
    void ShowStatusText(const QString &text) override { statusTexts.push_back(text); }
    void SetMagnifierPoint(int x, int y) override { magnifierPoints.emplace_back(x, y); }
    void RepaintMagnifier() override { ++magnifierRepaints; }
    CrossSectionMode CrossSectionItem() const override { return mode; }
    bool CrossSectionVisible() const override { return crossSectionVisible; }
    void ShowCrossSection(CrossSectionMode m) override
    {
        mode = m;
        crossSectionVisible = true;
        shownModes.push_back(m);
    }
    void XSectionHideClick() override
    {
        ++hideClicks;
        mode = CrossSectionMode::None;
        crossSectionVisible = false;
    }
    void DrawCrossSection(TChild *, int x0, int y0, int x1, int y1) override
    {
        crossSections.push_back({x0, y0, x1, y1});
    }
    void AddWindowMenuItem(TChild *, const QString &caption, std::int64_t tag) override
    {
        menuItems.emplace_back(caption, tag);
    }
    void RemoveWindowMenuItem(std::int64_t tag) override { removedMenuItems.push_back(tag); }
    void LimitOpenWindows() override { ++limitCalls; }
    bool SaveImageInFormat(const std::string &name, ImageData &, int format) override
    {
        saves.push_back({name, format});
        return saveSucceeds;
    }
    void FastTrimClick() override { ++trimClicks; }
    void StatsFormShowExecute() override { ++statsClicks; }
    void ShowFocusData() override { ++focusClicks; }
    void SetCaptureSpinEdits(int xLo, int xHi, int yLo, int yHi) override
    {
        captureEdits.push_back({xLo, xHi, yLo, yHi});
    }
    bool TakeRepaintRequest() override
    {
        const bool r = repaintRequest;
        repaintRequest = false;
        return r;
    }
    const float *LogScaleTable() const override { return StandardLogScaleTable(); }
};
