#pragma once

#include <QBasicTimer>
#include <QDialog>
#include <QPointer>

class QLabel;

// A delayed hover tip for one widget: it appears 2 s after the pointer
// enters the watched widget, stays at most 3 s and goes 300 ms after the
// pointer leaves.
//
// Placement mode 0 puts the tip above the widget, shifted left by half the
// difference of the two widths; mode 2 puts it above and to the left of the
// widget; other modes leave it where it was.
class VxToolTip : public QDialog
{
    Q_OBJECT
    Q_PROPERTY(int x_offset READ xOffset WRITE setXOffset NOTIFY xOffsetChanged)
    Q_PROPERTY(int y_offset READ yOffset WRITE setYOffset NOTIFY yOffsetChanged)
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
    Q_PROPERTY(Qt::Alignment alignment READ alignment WRITE setAlignment NOTIFY alignmentChanged)

public:
    static constexpr int kShowDelayMs = 2000;
    static constexpr int kLifeMs = 3000;
    static constexpr int kHideDelayMs = 300;

    explicit VxToolTip(QString text, int mode = 0, QWidget *parent = nullptr);

    void setTarget(QObject *widget);
    QObject *target() const { return target_; }
    int mode() const { return mode_; }

    // Offsets are kept for users of the properties; placement ignores them.
    int xOffset() const { return xOffset_; }
    int yOffset() const { return yOffset_; }
    QString text() const;
    Qt::Alignment alignment() const;

    void setXOffset(int offset);
    void setYOffset(int offset);
    void setText(const QString &text);
    void setAlignment(Qt::Alignment alignment);

    // Shorter delays for tests; the defaults are the constants above.
    void setDelays(int showDelayMs, int lifeMs, int hideDelayMs);

signals:
    void xOffsetChanged(int offset);
    void yOffsetChanged(int offset);
    void textChanged(const QString &text);
    void alignmentChanged(Qt::Alignment alignment);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void placeOver(QWidget *widget);

    QLabel *label_ = nullptr;
    QPointer<QObject> target_;
    int mode_ = 0;
    int xOffset_ = 0;
    int yOffset_ = 0;
    QBasicTimer showTimer_;
    QBasicTimer hideTimer_;
    int showDelayMs_ = kShowDelayMs;
    int lifeMs_ = kLifeMs;
    int hideDelayMs_ = kHideDelayMs;
};
