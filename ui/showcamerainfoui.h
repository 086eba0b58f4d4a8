#pragma once

#include "camera/cameradescription.h"

#include <QDialog>

#include <string>

namespace Ui {
class ShowCameraInfoUI;
}

class VxWindowAgent;

// "Camera Info": product, manufacturer, firmware version and serial of the
// open fusion camera. Created for one showing and run modally.
class ShowCameraInfoUI : public QDialog
{
    Q_OBJECT

public:
    explicit ShowCameraInfoUI(QWidget *parent = nullptr);
    ~ShowCameraInfoUI() override;

    // The firmware text is shown as the camera gave it, an empty one included.
    void setCameraInfo(vexadin::CameraDescription description, std::string firmware_version);

private slots:
    void on_pb_close_clicked();
    void on_pb_win_close_clicked();

private:
    Ui::ShowCameraInfoUI *ui;
    VxWindowAgent *m_windowAgent = nullptr;
};
