#pragma once

#include "ui/vxrangefiledialog.h"

namespace Ui {
class VxCutRawFile;
}

// Asks for the range of the open recording to cut and for the new recording to write.
class VxCutRawFile : public VxRangeFileDialog
{
    Q_OBJECT

public:
    explicit VxCutRawFile(QWidget *parent = nullptr);
    ~VxCutRawFile() override;

private:
    Ui::VxCutRawFile *ui;
};
