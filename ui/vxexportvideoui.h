#pragma once

#include "ui/vxrangefiledialog.h"

namespace Ui {
class VxExportVideoUI;
}

// Asks for the range of the open recording to export and for the video file to write.
class VxExportVideoUI : public VxRangeFileDialog
{
    Q_OBJECT

public:
    explicit VxExportVideoUI(QWidget *parent = nullptr);
    ~VxExportVideoUI() override;

private:
    Ui::VxExportVideoUI *ui;
};
