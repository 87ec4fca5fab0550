#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <QImage>
#include <QWidget>

#include "layeredui/TranslucentDialog.h"

// A layered dialog for the widget tests: the test decides what InitWidgets
// does and which companion is made, and the commands are recorded.
class SampleDialog : public CTranslucentDialog {
public:
    explicit SampleDialog(unsigned backgroundId = 151) : CTranslucentDialog(backgroundId) {}

    std::function<void(SampleDialog&)> initWidgets;
    std::function<QWidget*()> makeCompanion;
    std::vector<int> commands;

protected:
    QWidget* CreateCompanionDialog() override { return makeCompanion ? makeCompanion() : nullptr; }
    void InitWidgets() override
    {
        if (initWidgets)
            initWidgets(*this);
    }
    void OnCommand(int controlId) override { commands.push_back(controlId); }
};

// A solid picture of the given size and colour (premultiplied ARGB).
inline std::unique_ptr<QImage> SolidImage(int w, int h, QColor color)
{
    auto image = std::make_unique<QImage>(w, h, QImage::Format_ARGB32_Premultiplied);
    image->fill(color);
    return image;
}
